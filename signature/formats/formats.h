// Header tests and size rules of every family, as the catalogue table names
// them. Each test returns a kind number or kNoKind; each rule a byte length.
#pragma once
#include <cstddef>
#include <cstdint>

namespace nuvarin::formats {

// video.cpp
uint32_t TestMpeg(const uint8_t* p, size_t n);
uint32_t TestMp4(const uint8_t* p, size_t n);
uint32_t TestRealMedia(const uint8_t* p, size_t n);
uint32_t TestAsf(const uint8_t* p, size_t n);
uint32_t TestSwf(const uint8_t* p, size_t n);
uint32_t TestAvi(const uint8_t* p, size_t n);
uint32_t TestFlv(const uint8_t* p, size_t n);
uint32_t Test3gp(const uint8_t* p, size_t n);
uint32_t TestMkv(const uint8_t* p, size_t n);
uint32_t TestMxf(const uint8_t* p, size_t n);
uint32_t TestMov(const uint8_t* p, size_t n);
uint64_t SizeMpegEndCode(const uint8_t* p, size_t n, uint64_t cap);
uint64_t SizeMp4Producer(const uint8_t* p, size_t n, uint64_t cap);
uint64_t SizeRealMediaIndex(const uint8_t* p, size_t n, uint64_t cap);
uint64_t SizeAsf(const uint8_t* p, size_t n, uint64_t cap);
uint64_t SizeSwf(const uint8_t* p, size_t n, uint64_t cap);
uint64_t SizeRiff(const uint8_t* p, size_t n, uint64_t cap);

// transport_stream.cpp
uint32_t TestTransportStream(const uint8_t* p, size_t n);
uint32_t TestM2ts(const uint8_t* p, size_t n);
uint64_t SizeTransportStream(const uint8_t* p, size_t n, uint64_t cap);

// audio.cpp
uint32_t TestMp3(const uint8_t* p, size_t n);
uint32_t TestMidi(const uint8_t* p, size_t n);
uint32_t TestApe(const uint8_t* p, size_t n);
uint32_t TestWav(const uint8_t* p, size_t n);
uint32_t TestMp2(const uint8_t* p, size_t n);
uint32_t TestMmf(const uint8_t* p, size_t n);
uint64_t SizeId3v1(const uint8_t* p, size_t n, uint64_t cap);
uint64_t SizeApeTag(const uint8_t* p, size_t n, uint64_t cap);
uint64_t SizeMidi(const uint8_t* p, size_t n, uint64_t cap);

// pictures.cpp
uint32_t TestGif(const uint8_t* p, size_t n);
uint32_t TestBmp(const uint8_t* p, size_t n);
uint32_t TestJpeg(const uint8_t* p, size_t n);
uint32_t TestPng(const uint8_t* p, size_t n);
uint32_t TestPsd(const uint8_t* p, size_t n);
uint32_t TestTiff(const uint8_t* p, size_t n);
uint32_t TestIco(const uint8_t* p, size_t n);
uint64_t SizeGif(const uint8_t* p, size_t n, uint64_t cap);
uint64_t SizePng(const uint8_t* p, size_t n, uint64_t cap);
uint64_t SizeJpeg(const uint8_t* p, size_t n, uint64_t cap);
uint64_t SizeBmp(const uint8_t* p, size_t n, uint64_t cap);
uint64_t SizeIco(const uint8_t* p, size_t n, uint64_t cap);

// compound_document.cpp
uint32_t TestCompoundDocument(const uint8_t* p, size_t n);
uint64_t SizeCompoundDocument(const uint8_t* p, size_t n, uint64_t cap);

// office_archive.cpp
uint32_t TestOfficeArchive(const uint8_t* p, size_t n);

// archives.cpp
uint32_t TestGzip(const uint8_t* p, size_t n);
uint32_t Test7z(const uint8_t* p, size_t n);
uint32_t TestZip(const uint8_t* p, size_t n);
uint32_t TestRar(const uint8_t* p, size_t n);
uint32_t TestCab(const uint8_t* p, size_t n);
uint64_t SizeZipEnd(const uint8_t* p, size_t n, uint64_t cap);
uint64_t Size7zEnd(const uint8_t* p, size_t n, uint64_t cap);
uint64_t SizeRarEnd(const uint8_t* p, size_t n, uint64_t cap);
uint64_t SizeCab(const uint8_t* p, size_t n, uint64_t cap);

// pdf.cpp
uint32_t TestPdf(const uint8_t* p, size_t n);
uint64_t SizePdf(const uint8_t* p, size_t n, uint64_t cap);

// misc.cpp: executables, backup images, databases, mail stores, fonts
uint32_t TestExecutable(const uint8_t* p, size_t n);
uint32_t TestGho(const uint8_t* p, size_t n);
uint32_t TestSqlite(const uint8_t* p, size_t n);
uint32_t TestDbx(const uint8_t* p, size_t n);
uint32_t TestPst(const uint8_t* p, size_t n);
uint32_t TestFla(const uint8_t* p, size_t n);
uint32_t TestTrueType(const uint8_t* p, size_t n);
uint64_t SizeTrueType(const uint8_t* p, size_t n, uint64_t cap);

}  // namespace nuvarin::formats
