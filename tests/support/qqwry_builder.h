// Builds qqwry.dat fixtures for tests and benchmarks.
//
// Usage:
//     TempWorkDir dir;                        // fresh directory, made current
//     QqwryBuilder db;
//     db.Add(Ip(1, 0, 0, 0), Ip(1, 0, 0, 255), "中国", "北京");
//     db.Add(Ip(2, 0, 0, 0), Ip(2, 0, 0, 9), "美国", "", CountryForm::Mode2,
//            AreaForm::Unknown);
//     db.Write();                             // ./qqwry.dat
//
// Ranges are added in ascending order of start address; the index lists them
// in the order added. Texts are byte strings written as given (test literals
// are GBK already). Texts and redirect targets are shared between ranges
// that use the same ones, as in real files.
//
// File layout: the 8-byte header, the location records with their texts, an
// optional gap of zero bytes (PadIndexTo) and the index at the end.
//
// For damaged files: AddRaw places a location record of any bytes (say, a
// redirect past the end of the file), AddPointing aims an index record at any
// offset, SetHeader overrides the header's two
// offsets, and Bytes() gives the file to cut or alter before WriteFile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// An address as the file holds it: first dotted part most significant.
constexpr uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

enum class CountryForm {
    InPlace,     // the country text right after the end address
    Mode2,       // 0x02 and the offset of the country text; the area follows
    Mode1,       // 0x01 and the offset of: country text, then the area field
    Mode1Then2,  // 0x01 and the offset of: 0x02, country offset, area field
};

enum class AreaForm {
    InPlace,    // the area text itself (an empty one is a 0x00 byte: "Unknown")
    Redirect1,  // 0x01 and the offset of the area text
    Redirect2,  // 0x02 and the offset of the area text
    Unknown,    // a single 0x00 byte: the area reads as "Unknown"
};

// Little-endian byte strings for raw records.
class RawBytes {
public:
    RawBytes &U8(uint8_t v);
    RawBytes &U24(uint32_t v);
    RawBytes &U32(uint32_t v);
    RawBytes &Text(const std::string &s);  // the bytes and a zero byte
    const std::vector<uint8_t> &bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

class QqwryBuilder {
public:
    QqwryBuilder &Add(uint32_t start, uint32_t end, const std::string &country,
                      const std::string &area, CountryForm country_form = CountryForm::InPlace,
                      AreaForm area_form = AreaForm::InPlace);
    // An index record for start whose location record is exactly these bytes
    // (the end address first).
    QqwryBuilder &AddRaw(uint32_t start, const RawBytes &record);
    // An index record for start that points at any offset, even one outside
    // the file.
    QqwryBuilder &AddPointing(uint32_t start, uint32_t record_offset);
    // The index starts at offset or later; zero bytes fill the gap.
    QqwryBuilder &PadIndexTo(size_t offset);
    // Writes these values into the header instead of the index's bounds.
    QqwryBuilder &SetHeader(uint32_t first, uint32_t last);

    std::vector<uint8_t> Bytes() const;
    // Writes the file (qqwry.dat in the working directory unless a path is
    // given) and returns its path.
    std::string Write(const std::string &path = "qqwry.dat") const;

private:
    uint32_t Place(std::vector<uint8_t> &out, const std::vector<uint8_t> &bytes,
                   std::map<std::vector<uint8_t>, uint32_t> &shared) const;

    struct Entry {
        uint32_t start;
        uint32_t end;
        std::string country;
        std::string area;
        CountryForm country_form;
        AreaForm area_form;
        bool raw;
        std::vector<uint8_t> raw_record;
        bool pointing;
        uint32_t record_offset;
    };
    std::vector<Entry> entries_;
    size_t index_at_ = 0;
    bool header_set_ = false;
    uint32_t header_first_ = 0;
    uint32_t header_last_ = 0;
};

// Writes bytes to path (replacing it); fails the test when it cannot.
void WriteFile(const std::string &path, const std::vector<uint8_t> &bytes);

// A fresh temporary directory made the working directory for the object's
// life; the old working directory comes back and the directory is removed
// afterwards.
class TempWorkDir {
public:
    TempWorkDir();
    ~TempWorkDir();
    TempWorkDir(const TempWorkDir &) = delete;
    TempWorkDir &operator=(const TempWorkDir &) = delete;
    const std::string &path() const { return path_; }

private:
    std::string path_;
    std::string previous_;
};
