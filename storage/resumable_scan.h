// Engines that can continue an unfinished earlier scan of the same area (the
// deep scan) say so through this small interface, so that jobs can ask the
// user before the scan starts without knowing the engine.
#pragma once
#include <filesystem>

namespace nuvarin {

class IResumableScan {
 public:
  virtual ~IResumableScan() = default;
  // True when an earlier unfinished scan of this area was found and will be continued.
  virtual bool Resuming() const = 0;
  // Start afresh instead (the caller removes the earlier scan's folder).
  virtual void ClearResuming() = 0;
  // Folder of the earlier scan's logs.
  virtual std::filesystem::path PreviousScanFolder() const = 0;
};

}  // namespace nuvarin
