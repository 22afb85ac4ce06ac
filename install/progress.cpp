// The overall percentage of a run, all of its arithmetic.
#include <algorithm>

#include "install/client.h"
#include "install/messages.h"

namespace {
constexpr double kDownloadShare = 80.0;  // percent of the bar the downloads fill
constexpr double kUnpackShare = 10.0;   // and the unpacking, from there
// The manifest and the three packages every release has.
constexpr int32_t kPlannedAtStart = 4;

// A plan of zero transfers cannot happen in a run; it must not divide by zero either.
int32_t SafePlan(int32_t planned) { return planned > 0 ? planned : 1; }

int32_t ClampPercent(double value) {
  if (!(value > 0.0)) return 0;  // also NaN
  if (value >= 100.0) return 100;
  return static_cast<int32_t>(value);
}
}  // namespace

void IClient::ResetProgress() {
  plannedTransfers = kPlannedAtStart;
  transfersDone = 0;
  unpackShare = 0.0;
}

void IClient::PlanOptionalPackages() {
  if (manifest.hasQuant) ++plannedTransfers;
  if (manifest.hasStock) ++plannedTransfers;
}

void IClient::TransferEnded() { ++transfersDone; }

void IClient::OnTransferProgress(size_t /*increment*/, int64_t transferred, int64_t total, void* userData) {
  IClient* self = static_cast<IClient*>(userData);
  if (self == nullptr) return;
  // An empty object (total 0) is a finished slice; an unknown total shows no progress yet.
  double fraction = total > 0 ? static_cast<double>(transferred) / static_cast<double>(total) : (total == 0 ? 1.0 : 0.0);
  fraction = std::min(1.0, std::max(0.0, fraction));
  const double value = (fraction + self->transfersDone) * (kDownloadShare / 100.0 / SafePlan(self->plannedTransfers)) * 100;
  self->overallPercent = ClampPercent(value);
  PostInstallMessage(WM_INSTALL_PROGRESS, self->overallPercent);
}

void IClient::BeginUnpacking() { plannedTransfers -= 1; }

int32_t IClient::PackageUnpacked() {
  unpackShare += kUnpackShare / SafePlan(plannedTransfers);
  overallPercent = ClampPercent(unpackShare + kDownloadShare);
  return overallPercent;
}

void IClient::AddPercent(int points) {
  overallPercent = std::min(100, overallPercent + points);
  PostInstallMessage(WM_INSTALL_PROGRESS, overallPercent);
}
