// The sample release read by the installer's own manifest reader and zip extraction:
// what it unpacks to is exactly the tree the release describes.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "install/manifest.h"
#include "support/sample_release.h"
#include "support/test_support.h"
#include "unzip/tunzip.h"

using namespace testing_support;

namespace {

// Unpacks the release's packages as the install worker does: base, runtime, config and
// quant into the root, the securities-information package below Server\config\BaseData.
void UnpackLikeTheInstaller(const std::string& store, const ReleaseManifest& manifest, const std::string& tree) {
  const std::string prefix = store + "\\9.5MOrvantisIE\\";
  EXPECT_TRUE(TUnzip::ExtractArchive((prefix + "base.zip").c_str(), tree.c_str()));
  EXPECT_TRUE(TUnzip::ExtractArchive((prefix + "fix\\" + manifest.fixVersion + ".zip").c_str(), tree.c_str()));
  EXPECT_TRUE(TUnzip::ExtractArchive((prefix + "config.zip").c_str(), tree.c_str()));
  if (manifest.hasQuant) {
    EXPECT_TRUE(TUnzip::ExtractArchive((prefix + "quant\\" + manifest.quantName + ".zip").c_str(), tree.c_str()));
  }
  if (manifest.hasStock) {
    EXPECT_TRUE(TUnzip::ExtractArchive((prefix + "CspAccessApi.StockInfo.pub.zip").c_str(),
                                       (tree + "\\Server\\config\\BaseData").c_str()));
  }
}

ReleaseManifest ReadManifest(const std::string& store, const char* packageCode) {
  ReleaseManifest manifest;
  memset(&manifest, 0, sizeof(manifest));
  ReadReleaseManifest(manifest, (store + "\\9.5MOrvantisIE/summary.ini").c_str(), packageCode);
  return manifest;
}

TEST(SampleRelease, UnpacksToTheDescribedTreeWithEveryPackage) {
  ScratchFolder store("store");
  ASSERT_TRUE(BuildSampleRelease(store.Path()));
  ReleaseManifest manifest = ReadManifest(store.Path(), "602731");
  EXPECT_GT(manifest.cfgTime, 0);
  EXPECT_STRNE(manifest.fixVersion, "");
  EXPECT_TRUE(manifest.hasQuant);
  EXPECT_TRUE(manifest.hasStock);

  ScratchFolder tree("tree");
  UnpackLikeTheInstaller(store.Path(), manifest, tree.Path());
  const auto expected = ExpectedInstalledTree(store.Path());
  EXPECT_EQ(ListFilesRecursive(tree.Path()), expected);
  for (const char* required : {"morvantis v9.5.exe", "uninstall.exe", "config\\morvantis.Default.pub",
                               "config\\morvantis.Default.pri", "Server\\config\\shortcut\\shortcut602731.ico",
                               "Server\\config\\BaseData\\StockInfo.pub", "quant\\strategies\\ma_cross.qs",
                               "帮助\\使用说明.txt"}) {
    EXPECT_TRUE(FileExists(tree / required)) << required;
  }
  // The runtime package, unpacked after the base package, wins.
  EXPECT_EQ(ReadFileBytes(tree / "bin\\runtime.ver"), std::string(manifest.fixVersion) + "\r\n");
  EXPECT_EQ(ReadFileBytes(tree / "morvantis v9.5.exe"), ReadFileBytes(BinaryPath("standin\\terminal.exe")));
}

TEST(SampleRelease, WithoutOptionalPackagesForAnotherBuild) {
  ScratchFolder store("store");
  SampleReleaseOptions options;
  options.packageCode = "123456";
  options.quant = false;
  options.stock = false;
  ASSERT_TRUE(BuildSampleRelease(store.Path(), options));
  ReleaseManifest manifest = ReadManifest(store.Path(), "123456");
  EXPECT_FALSE(manifest.hasQuant);
  EXPECT_FALSE(manifest.hasStock);
  EXPECT_FALSE(FolderExists(store / "9.5MOrvantisIE\\quant"));
  EXPECT_FALSE(FileExists(store / "9.5MOrvantisIE\\CspAccessApi.StockInfo.pub.zip"));

  ScratchFolder tree("tree");
  UnpackLikeTheInstaller(store.Path(), manifest, tree.Path());
  EXPECT_EQ(ListFilesRecursive(tree.Path()), ExpectedInstalledTree(store.Path()));
  EXPECT_TRUE(FileExists(tree / "Server\\config\\shortcut\\shortcut123456.ico"));
  EXPECT_FALSE(FolderExists(tree / "Server\\config\\BaseData"));

  // The same manifest holds other builds' lines, each build reading its own.
  ReleaseManifest other = ReadManifest(store.Path(), "600118");
  EXPECT_TRUE(other.hasQuant);
  EXPECT_STRNE(other.fixVersion, "");
  EXPECT_STRNE(other.fixVersion, manifest.fixVersion);
}

}  // namespace
