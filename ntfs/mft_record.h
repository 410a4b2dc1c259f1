// One MFT file record: the fixed 8 KiB read, the "FILE" test, the fixups and
// the header fields the engines use.
#pragma once
#include <cstddef>
#include <cstdint>

#include "ntfs/boot_sector.h"
#include "storage/byte_reader.h"
#include "storage/sector_device.h"

namespace nuvarin {

// Every record read is this long whatever the record size.
constexpr size_t kMftReadBytes = 8192;

constexpr uint16_t kRecordInUse = 0x0001;
constexpr uint16_t kRecordDirectory = 0x0002;
constexpr uint32_t kRootFolderRecord = 5;
constexpr uint32_t kLastSystemRecord = 11;

// Header of an NTFS 3.1 file record.
struct MftRecordHeader {
  static constexpr size_t kSignature = 0x00;
  static constexpr size_t kFirstAttribute = 0x14;
  static constexpr size_t kFlags = 0x16;
  static constexpr size_t kBytesInUse = 0x18;
  static constexpr size_t kBytesAllocated = 0x1C;
  static constexpr size_t kBaseRecord = 0x20;
  static constexpr size_t kRecordNumber = 0x2C;
  static constexpr size_t kUpdateSequenceNumber = 0x30;
  static constexpr size_t kUpdateSequenceArray = 0x32;

  static bool IsRecord(ByteReader r) { return r.equals(kSignature, "FILE"); }
  static uint16_t FirstAttribute(ByteReader r) { return r.le16(kFirstAttribute); }
  static uint16_t Flags(ByteReader r) { return r.le16(kFlags); }
  static uint32_t BytesInUse(ByteReader r) { return r.le32(kBytesInUse); }
  static uint32_t BytesAllocated(ByteReader r) { return r.le32(kBytesAllocated); }
  static uint32_t RecordNumber(ByteReader r) { return r.le32(kRecordNumber); }
  static uint16_t UpdateSequenceNumber(ByteReader r) { return r.le16(kUpdateSequenceNumber); }
  static bool IsDirectory(ByteReader r) { return (Flags(r) & kRecordDirectory) != 0; }
  // Non-zero in an extension record: the record number of the base record it belongs to.
  static uint64_t BaseRecord(ByteReader r) { return r.le64(kBaseRecord) & 0x0000FFFFFFFFFFFFull; }
};

// Reads 8 KiB from `lba` into `buffer` (kMftReadBytes long). Near the end of
// the device only the sectors that exist are read and the rest is zeroed, so a
// record in the last sectors is still readable. 0, or the read error (-100
// when the device gave none).
int32_t ReadMftRecord(const SectorDevice& device, const NtfsGeometry& geometry, uint64_t lba, uint8_t* buffer);

// Puts the saved sector-end words back: for each sector i of the record, the
// u16 at bytesPerSector * (i + 1) - 2 takes the i-th word of the array at 0x32.
// The replaced words are not compared with the update sequence number. Words
// outside `size` are left alone.
void ApplyFixups(uint8_t* record, size_t size, const NtfsGeometry& geometry);

}  // namespace nuvarin
