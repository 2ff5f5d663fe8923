#include "qqwry_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

RawBytes &RawBytes::U8(uint8_t v) {
    bytes_.push_back(v);
    return *this;
}

RawBytes &RawBytes::U24(uint32_t v) {
    for (int i = 0; i < 3; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
}

RawBytes &RawBytes::U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
}

RawBytes &RawBytes::Text(const std::string &s) {
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    bytes_.push_back(0);
    return *this;
}

QqwryBuilder &QqwryBuilder::Add(uint32_t start, uint32_t end, const std::string &country,
                                const std::string &area, CountryForm country_form,
                                AreaForm area_form) {
    entries_.push_back({start, end, country, area, country_form, area_form, false, {}, false, 0});
    return *this;
}

QqwryBuilder &QqwryBuilder::AddRaw(uint32_t start, const RawBytes &record) {
    entries_.push_back(
        {start, 0, "", "", CountryForm::InPlace, AreaForm::InPlace, true, record.bytes(), false, 0});
    return *this;
}

QqwryBuilder &QqwryBuilder::AddPointing(uint32_t start, uint32_t record_offset) {
    entries_.push_back(
        {start, 0, "", "", CountryForm::InPlace, AreaForm::InPlace, false, {}, true, record_offset});
    return *this;
}

QqwryBuilder &QqwryBuilder::PadIndexTo(size_t offset) {
    index_at_ = offset;
    return *this;
}

QqwryBuilder &QqwryBuilder::SetHeader(uint32_t first, uint32_t last) {
    header_set_ = true;
    header_first_ = first;
    header_last_ = last;
    return *this;
}

// Appends bytes once and returns their offset; equal byte strings share one
// copy.
uint32_t QqwryBuilder::Place(std::vector<uint8_t> &out, const std::vector<uint8_t> &bytes,
                             std::map<std::vector<uint8_t>, uint32_t> &shared) const {
    auto it = shared.find(bytes);
    if (it != shared.end()) return it->second;
    uint32_t at = static_cast<uint32_t>(out.size());
    if (at > 0xFFFFFF) ADD_FAILURE() << "texts must lie in the first 16 MiB to be reachable";
    out.insert(out.end(), bytes.begin(), bytes.end());
    shared.emplace(bytes, at);
    return at;
}

std::vector<uint8_t> QqwryBuilder::Bytes() const {
    std::vector<uint8_t> out(8, 0);
    std::map<std::vector<uint8_t>, uint32_t> shared;
    std::vector<uint32_t> records;

    for (const Entry &e : entries_) {
        if (e.pointing) {
            records.push_back(e.record_offset);
            continue;
        }
        if (e.raw) {
            records.push_back(static_cast<uint32_t>(out.size()));
            out.insert(out.end(), e.raw_record.begin(), e.raw_record.end());
            continue;
        }
        // The area field as it follows the country, or in a redirect target.
        RawBytes area;
        switch (e.area_form) {
        case AreaForm::InPlace:
            area.Text(e.area);
            break;
        case AreaForm::Redirect1:
        case AreaForm::Redirect2:
            area.U8(e.area_form == AreaForm::Redirect1 ? 0x01 : 0x02)
                .U24(Place(out, RawBytes().Text(e.area).bytes(), shared));
            break;
        case AreaForm::Unknown:
            area.U8(0x00);
            break;
        }

        RawBytes record;
        record.U32(e.end);
        switch (e.country_form) {
        case CountryForm::InPlace:
            record.Text(e.country);
            break;
        case CountryForm::Mode2:
            record.U8(0x02).U24(Place(out, RawBytes().Text(e.country).bytes(), shared));
            break;
        case CountryForm::Mode1: {
            std::vector<uint8_t> t = RawBytes().Text(e.country).bytes();
            t.insert(t.end(), area.bytes().begin(), area.bytes().end());
            record.U8(0x01).U24(Place(out, t, shared));
            break;
        }
        case CountryForm::Mode1Then2: {
            RawBytes target;
            target.U8(0x02).U24(Place(out, RawBytes().Text(e.country).bytes(), shared));
            std::vector<uint8_t> t = target.bytes();
            t.insert(t.end(), area.bytes().begin(), area.bytes().end());
            record.U8(0x01).U24(Place(out, t, shared));
            break;
        }
        }
        std::vector<uint8_t> r = record.bytes();
        // In place and 0x02 countries carry their area field in the record.
        if (e.country_form == CountryForm::InPlace || e.country_form == CountryForm::Mode2)
            r.insert(r.end(), area.bytes().begin(), area.bytes().end());
        records.push_back(static_cast<uint32_t>(out.size()));
        out.insert(out.end(), r.begin(), r.end());
    }

    if (out.size() < index_at_) out.resize(index_at_, 0);
    uint32_t first = static_cast<uint32_t>(out.size());
    for (size_t k = 0; k < entries_.size(); ++k) {
        RawBytes index;
        index.U32(entries_[k].start).U24(records[k]);
        out.insert(out.end(), index.bytes().begin(), index.bytes().end());
    }
    uint32_t last = entries_.empty() ? first : first + 7 * static_cast<uint32_t>(entries_.size() - 1);
    if (header_set_) {
        first = header_first_;
        last = header_last_;
    }
    RawBytes header;
    header.U32(first).U32(last);
    std::copy(header.bytes().begin(), header.bytes().end(), out.begin());
    return out;
}

std::string QqwryBuilder::Write(const std::string &path) const {
    WriteFile(path, Bytes());
    return path;
}

void WriteFile(const std::string &path, const std::vector<uint8_t> &bytes) {
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << "cannot create " << path;
    size_t written = bytes.empty() ? 1 : fwrite(bytes.data(), bytes.size(), 1, f);
    int closed = fclose(f);
    ASSERT_EQ(written, 1u) << "cannot write " << path;
    ASSERT_EQ(closed, 0) << "cannot write " << path;
}

TempWorkDir::TempWorkDir() {
    // A new directory under a name nobody holds yet; creating it is the test
    // of that, so two tests never share one.
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "qv-%08x", static_cast<unsigned>(random()));
        std::error_code ec;
        if (std::filesystem::create_directory(base / name, ec)) path_ = (base / name).string();
    }
    if (path_.empty()) {
        ADD_FAILURE() << "cannot make a directory under " << base.string();
        return;
    }
    previous_ = std::filesystem::current_path().string();
    std::filesystem::current_path(path_);
}

TempWorkDir::~TempWorkDir() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::current_path(previous_, ec);
    std::filesystem::remove_all(path_, ec);
}
