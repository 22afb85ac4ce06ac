#include "install/packages.h"

#include "base/context.h"
#include "base/text.h"

const ReleasePackage kReleasePackages[6] = {
    {PackageId::kDepend, PackageTaken::kNever, "/", "depend.zip", "", false,  //
     kStepDownloadDepend, "下载前端依赖库", "下载前端依赖库失败",              //
     kStepUnpackDepend, "安装前端依赖库", "安装前端依赖库失败"},
    {PackageId::kBase, PackageTaken::kAlways, "/", "base.zip", "", false,  //
     kStepDownloadBase, "下载服务依赖库", "下载服务依赖库失败",            //
     kStepUnpackBase, "安装服务依赖库", "安装服务依赖库失败"},
    {PackageId::kConfig, PackageTaken::kAlways, "/", "config.zip", "", false,  //
     kStepDownloadConfig, "下载配置文件", "下载配置文件失败",                  //
     kStepUnpackConfig, "安装配置文件", "安装配置文件失败"},
    {PackageId::kRuntime, PackageTaken::kAlways, "/fix/", nullptr, "", false,  //
     kStepDownloadRuntime, "下载运行库", "下载运行库失败",                     //
     kStepUnpackRuntime, "安装运行库", "安装运行库失败"},
    {PackageId::kQuant, PackageTaken::kWithQuant, "/quant/", nullptr, "", false,  //
     kStepDownloadQuant, "下载Quant", "下载Quant 失败",                           //
     kStepUnpackQuant, "安装Quant运行库", "安装Quant运行库失败"},
    {PackageId::kStock, PackageTaken::kWithStock, "/", "CspAccessApi.StockInfo.pub.zip", "Server/config/BaseData", true,
     kStepDownloadStock, "下载证券信息配置文件", "下载证券信息配置文件失败",  //
     kStepUnpackStock, "安装证券信息配置文件", "安装证券信息配置文件失败"},
};

const PackageId kUnpackOrder[6] = {PackageId::kDepend,  PackageId::kBase,  PackageId::kRuntime,
                                   PackageId::kConfig, PackageId::kQuant, PackageId::kStock};

const ReleasePackage& Package(PackageId id) {
  for (const ReleasePackage& package : kReleasePackages) {
    if (package.id == id) return package;
  }
  return kReleasePackages[0];  // every id is in the table
}

bool PackageIsTaken(const ReleasePackage& package, const ReleaseManifest& manifest) {
  switch (package.taken) {
    case PackageTaken::kAlways: return true;
    case PackageTaken::kWithQuant: return manifest.hasQuant;
    case PackageTaken::kWithStock: return manifest.hasStock;
    case PackageTaken::kNever: break;
  }
  return false;
}

std::string PackageFileName(const ReleasePackage& package, const ReleaseManifest& manifest) {
  if (package.fileName != nullptr) return package.fileName;
  const char* name = package.id == PackageId::kQuant ? manifest.quantName : manifest.fixVersion;
  return FormatBounded(101, "%s.zip", name);
}

std::string PackageArchive(const ReleasePackage& package, const ReleaseManifest& manifest) {
  return InstallerContext::Instance().tempDir + "/" + PackageFileName(package, manifest);
}

std::string PackageTarget(const ReleasePackage& package) {
  const std::string& staging = InstallerContext::Instance().tempDir;
  return *package.unpackFolder ? staging + "/" + package.unpackFolder : staging;
}
