// The location database: loading qqwry.dat, the index search and the
// decoding of country and area fields, for sound and damaged files.
#include "locdb/location_db.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "qqwry_builder.h"

namespace {

constexpr size_t kMinImage = 10485760;

struct LookupCase {
    std::string address;
    std::string country;
    std::string area;
};

LocationResult LookUp(const std::string &address) {
    LocationResult result;
    std::memset(&result, 0, sizeof result);
    PrepareLocationDb();
    LookupLocation(address.c_str(), &result);
    return result;
}

void ExpectLookups(const std::vector<LookupCase> &cases) {
    for (const LookupCase &c : cases) {
        LocationResult r = LookUp(c.address);
        ASSERT_NE(r.country, nullptr) << "address \"" << c.address << "\"";
        ASSERT_NE(r.area, nullptr) << "address \"" << c.address << "\"";
        EXPECT_EQ(std::string(r.country), c.country) << "country of \"" << c.address << "\"";
        EXPECT_EQ(std::string(r.area), c.area) << "area of \"" << c.address << "\"";
    }
}

// Both texts of a lookup must end inside the image block, which holds the
// file and at least one zero byte after it; the area may instead be the
// literal "Unknown".
void ExpectTextsInBlock(const LocationResult &r, size_t file_size, const std::string &label) {
    ASSERT_TRUE(LocationDbLoaded()) << label;
    size_t block = std::max(kMinImage, file_size + 1);
    const char *begin = reinterpret_cast<const char *>(LocationDbImage);
    const char *end = begin + block;
    auto inside = [&](const char *p) {
        return p >= begin && p < end && std::memchr(p, 0, end - p) != nullptr;
    };
    ASSERT_NE(r.country, nullptr) << label;
    ASSERT_NE(r.area, nullptr) << label;
    EXPECT_TRUE(inside(r.country)) << label << ": country outside the image";
    EXPECT_TRUE(inside(r.area) || std::strcmp(r.area, "Unknown") == 0)
        << label << ": area outside the image and not \"Unknown\"";
}

class LocationDb : public ::testing::Test {
protected:
    void TearDown() override { ReleaseLocationDb(); }

    TempWorkDir dir_;
};

// One range for each pair of country form and area form, 10.i.0.0 to
// 10.i.0.255, after a first range (1.x.x.x) and before a last one that
// reaches 255.255.255.255.
const CountryForm kCountryForms[] = {CountryForm::InPlace, CountryForm::Mode2, CountryForm::Mode1,
                                     CountryForm::Mode1Then2};
const AreaForm kAreaForms[] = {AreaForm::InPlace, AreaForm::Redirect1, AreaForm::Redirect2,
                               AreaForm::Unknown};

std::string Dotted(uint32_t a) {
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." +
           std::to_string((a >> 8) & 255) + "." + std::to_string(a & 255);
}

TEST_F(LocationDb, CountryAndAreaFormsAndRangeEnds) {
    QqwryBuilder db;
    db.Add(Ip(1, 0, 0, 0), Ip(1, 255, 255, 255), "首段", "第一");
    std::vector<LookupCase> cases;
    int i = 0;
    for (CountryForm cf : kCountryForms) {
        for (AreaForm af : kAreaForms) {
            std::string country = "国家" + std::to_string(i);
            std::string area = "地区" + std::to_string(i);
            uint32_t start = Ip(10, i, 0, 0), end = Ip(10, i, 0, 255);
            db.Add(start, end, country, area, cf, af);
            std::string expected_area = af == AreaForm::Unknown ? "Unknown" : area;
            cases.push_back({Dotted(start), country, expected_area});
            cases.push_back({Dotted(start + 77), country, expected_area});
            cases.push_back({Dotted(end), country, expected_area});
            cases.push_back({Dotted(end + 1), "首段", "第一"});  // gap after the range
            ++i;
        }
    }
    db.Add(Ip(20, 0, 0, 0), Ip(20, 0, 0, 0), "", "空国家");
    db.Add(Ip(224, 0, 0, 0), Ip(255, 255, 255, 255), "保留", "多播");
    db.Write();

    cases.insert(cases.end(), {
        {"0.0.0.0", "首段", "第一"},            // below the first range
        {"0.255.255.255", "首段", "第一"},
        {"1.0.0.0", "首段", "第一"},
        {"1.255.255.255", "首段", "第一"},
        {"20.0.0.0", "", "空国家"},              // one-address range, empty country
        {"19.255.255.255", "首段", "第一"},
        {"20.0.0.1", "首段", "第一"},
        {"223.255.255.255", "首段", "第一"},
        {"224.0.0.0", "保留", "多播"},
        {"255.255.255.255", "保留", "多播"},
        // The address goes through inet_addr: its shortened, octal and hex
        // forms, and a rejected text is looked up as 255.255.255.255.
        {"10.65536", "国家1", "地区1"},
        {"0x0a.2.0.0xff", "国家2", "地区2"},
        {"012.3.0.0200", "国家3", "Unknown"},
        {"167772160", "国家0", "地区0"},
        {"", "保留", "多播"},
        {"1.2.3.4.5", "保留", "多播"},
        {"abc", "保留", "多播"},
    });
    ExpectLookups(cases);
    EXPECT_TRUE(LocationDbLoaded());
}

TEST_F(LocationDb, SingleRangeServesEveryAddress) {
    QqwryBuilder().Add(Ip(8, 8, 8, 0), Ip(8, 8, 8, 255), "美国", "谷歌").Write();
    ExpectLookups({
        {"0.0.0.0", "美国", "谷歌"},
        {"8.8.8.8", "美国", "谷歌"},
        {"9.0.0.0", "美国", "谷歌"},
        {"255.255.255.255", "美国", "谷歌"},
    });
}

TEST_F(LocationDb, ZeroLengthFileGivesEmptyCountryAndUnknown) {
    WriteFile("qqwry.dat", {});
    ExpectLookups({{"0.0.0.0", "", "Unknown"}, {"1.2.3.4", "", "Unknown"}, {"", "", "Unknown"}});
    EXPECT_TRUE(LocationDbLoaded());
}

TEST_F(LocationDb, MissingFileIsTriedAgainUntilItAppears) {
    LocationResult before = LookUp("1.2.3.4");
    EXPECT_FALSE(LocationDbLoaded());
    EXPECT_EQ(LocationDbImage, nullptr);
    ASSERT_NE(before.country, nullptr);
    ASSERT_NE(before.area, nullptr);
    EXPECT_STREQ(before.country, "");
    EXPECT_STREQ(before.area, "Unknown");

    QqwryBuilder().Add(Ip(1, 0, 0, 0), Ip(1, 255, 255, 255), "澳大利亚", "墨尔本").Write();
    ExpectLookups({{"1.2.3.4", "澳大利亚", "墨尔本"}});
    EXPECT_TRUE(LocationDbLoaded());
    // The texts handed out before the file appeared are still intact.
    EXPECT_STREQ(before.country, "");
    EXPECT_STREQ(before.area, "Unknown");
}

TEST_F(LocationDb, UnreadableFileHoldsNoImageAndIsTriedAgain) {
    // A directory: it opens for reading on POSIX hosts but cannot be read
    // as a file, and does not open on Windows.
    ASSERT_TRUE(std::filesystem::create_directory("qqwry.dat"));
    ExpectLookups({{"1.2.3.4", "", "Unknown"}});
    EXPECT_FALSE(LocationDbLoaded());

    ASSERT_TRUE(std::filesystem::remove("qqwry.dat"));
    QqwryBuilder().Add(Ip(1, 0, 0, 0), Ip(1, 255, 255, 255), "日本", "东京").Write();
    ExpectLookups({{"1.2.3.4", "日本", "东京"}});
    EXPECT_TRUE(LocationDbLoaded());
}

TEST_F(LocationDb, FileIsReadOnceAndTextsStayValid) {
    QqwryBuilder()
        .Add(Ip(1, 0, 0, 0), Ip(1, 255, 255, 255), "中国", "北京", CountryForm::Mode1)
        .Add(Ip(2, 0, 0, 0), Ip(2, 255, 255, 255), "韩国", "首尔", CountryForm::Mode2,
             AreaForm::Redirect2)
        .Add(Ip(3, 0, 0, 0), Ip(3, 255, 255, 255), "法国", "", CountryForm::InPlace,
             AreaForm::Unknown)
        .Write();
    LocationResult first = LookUp("1.1.1.1");
    LocationResult second = LookUp("2.2.2.2");
    LocationResult third = LookUp("3.3.3.3");

    // A different file in its place is never read: the image stays.
    QqwryBuilder().Add(Ip(0, 0, 0, 0), Ip(255, 255, 255, 255), "别处", "别处").Write();
    ExpectLookups({{"1.1.1.1", "中国", "北京"}, {"3.0.0.0", "法国", "Unknown"}});
    for (int n = 0; n < 1000; ++n) LookUp(Dotted(static_cast<uint32_t>(n) * 4294967u));

    EXPECT_STREQ(first.country, "中国");
    EXPECT_STREQ(first.area, "北京");
    EXPECT_STREQ(second.country, "韩国");
    EXPECT_STREQ(second.area, "首尔");
    EXPECT_STREQ(third.country, "法国");
    EXPECT_STREQ(third.area, "Unknown");
    LocationResult again = LookUp("1.1.1.1");
    EXPECT_EQ(again.country, first.country) << "texts are pointed to, not copied";
    EXPECT_EQ(again.area, first.area);
}

TEST_F(LocationDb, OffsetsPastTheEndReadAsZeroBytes) {
    const uint32_t kInBlock = 0x800000;   // past the file, inside the block
    const uint32_t kPastBlock = 0xFFFFF0; // past the 10 MiB block
    QqwryBuilder db;
    // Record 0 lies beyond the block: its end address reads as 0, its
    // country as empty and its area field as zero.
    db.AddPointing(Ip(0, 0, 0, 0), kPastBlock);
    db.Add(Ip(1, 0, 0, 0), Ip(1, 0, 0, 255), "首段", "第一");
    // 0x02 country past the end; area redirect past the end.
    db.AddRaw(Ip(2, 0, 0, 0), RawBytes().U32(Ip(2, 0, 0, 255)).U8(0x02).U24(kInBlock).U8(0x01).U24(kInBlock));
    // 0x01 country whose target is past the end: an empty text, then a zero
    // area field.
    db.AddRaw(Ip(3, 0, 0, 0), RawBytes().U32(Ip(3, 0, 0, 255)).U8(0x01).U24(kInBlock));
    db.AddRaw(Ip(4, 0, 0, 0), RawBytes().U32(Ip(4, 0, 0, 255)).U8(0x01).U24(kPastBlock));
    // Redirects beyond the block.
    db.AddRaw(Ip(5, 0, 0, 0), RawBytes().U32(Ip(5, 0, 0, 255)).U8(0x02).U24(kPastBlock).U8(0x02).U24(kPastBlock));
    db.AddRaw(Ip(6, 0, 0, 0), RawBytes().U32(Ip(6, 0, 0, 255)).Text("德国").U8(0x01).U24(0xFFFFFF));
    db.Write();
    ExpectLookups({
        {"2.0.0.0", "", ""},
        {"3.0.0.7", "", "Unknown"},
        {"4.0.0.7", "", "Unknown"},
        {"5.0.0.255", "", ""},
        {"6.0.0.1", "德国", ""},
        {"0.0.0.0", "", "Unknown"},
        {"1.0.0.5", "首段", "第一"},
        {"7.0.0.0", "", "Unknown"},  // a gap falls to record 0
    });
}

TEST_F(LocationDb, RecordAtOffsetZeroOfBrokenIndex) {
    // A header whose index lies far beyond the block: every record reads as
    // start 0 pointing at offset 0, whose "record" is the header itself: an
    // end address of 0xF0000000, then the in-place country "F" (0x46, the low
    // byte of the last offset) and a zero area field.
    std::vector<uint8_t> bytes = RawBytes().U32(0xF0000000).U32(0xF0000046).bytes();
    WriteFile("qqwry.dat", bytes);
    ExpectLookups({{"1.2.3.4", "F", "Unknown"}, {"240.0.0.1", "F", "Unknown"}, {"", "F", "Unknown"}});
}

TEST_F(LocationDb, LastOffsetBelowFirstSearchesAWrappedIndex) {
    QqwryBuilder db;
    db.Add(Ip(1, 0, 0, 0), Ip(1, 255, 255, 255), "印度", "孟买", CountryForm::Mode1Then2);
    db.Add(Ip(2, 0, 0, 0), Ip(2, 255, 255, 255), "巴西", "圣保罗");
    db.PadIndexTo(0x4100);
    std::vector<uint8_t> bytes = db.Bytes();
    uint32_t first;
    std::memcpy(&first, bytes.data(), 4);
    ASSERT_EQ(first, 0x4100u);
    uint32_t last = first - 7;  // (last - first) / 7 wraps to 613,566,755
    std::memcpy(bytes.data() + 4, &last, 4);
    WriteFile("qqwry.dat", bytes);

    // Records beyond the file read as start 0 pointing at offset 0, whose
    // end address is the first offset, 0.0.65.0. An address above it climbs
    // through them and ends without a range: record 0. One not above it is
    // found there, and offset 0 decodes as the header: mode byte 0xF9 (low
    // byte of the last offset 0x40F9), in place the text F9 40, then the
    // zero area field at offset 7.
    ExpectLookups({
        {"1.2.3.4", "印度", "孟买"},
        {"2.2.2.2", "印度", "孟买"},
        {"0.0.65.1", "印度", "孟买"},
        {"255.255.255.255", "印度", "孟买"},
        {"0.0.0.0", "\xF9\x40", "Unknown"},
        {"0.0.65.0", "\xF9\x40", "Unknown"},
    });
}

TEST_F(LocationDb, FileLargerThanTenMiBLoadsWholeWithItsIndexBeyond) {
    const size_t kIndexAt = kMinImage + 4096;
    QqwryBuilder()
        .Add(Ip(1, 0, 0, 0), Ip(1, 255, 255, 255), "中国", "上海", CountryForm::Mode1)
        .Add(Ip(60, 0, 0, 0), Ip(60, 0, 255, 255), "中国", "广州", CountryForm::Mode2, AreaForm::Redirect1)
        .Add(Ip(61, 0, 0, 0), Ip(61, 0, 0, 0), "新加坡", "")
        .PadIndexTo(kIndexAt)
        .Write();
    ExpectLookups({
        {"1.2.3.4", "中国", "上海"},
        {"60.0.200.1", "中国", "广州"},
        {"61.0.0.0", "新加坡", "Unknown"},  // an empty area in place is a 0x00 byte
        {"61.0.0.1", "中国", "上海"},
    });
}

TEST_F(LocationDb, TextRunningToTheEndOfTheFileEndsInTheBlock) {
    // One record whose in-place country has no zero byte: it runs to the
    // last byte of the file. Sizes around the 10 MiB block.
    for (size_t size : {size_t(64), kMinImage - 1, kMinImage, kMinImage + 5}) {
        ReleaseLocationDb();
        std::vector<uint8_t> bytes(size, 0);
        uint32_t record = static_cast<uint32_t>(size - 8);
        std::vector<uint8_t> head = RawBytes().U32(8).U32(8).U32(0).U24(record).bytes();
        std::copy(head.begin(), head.end(), bytes.begin());
        std::vector<uint8_t> tail = RawBytes().U32(0xFFFFFFFF).U8('X').U8('Y').U8('Z').U8('W').bytes();
        std::copy(tail.begin(), tail.end(), bytes.end() - 8);
        WriteFile("qqwry.dat", bytes);

        LocationResult r = LookUp("9.9.9.9");
        std::string label = "file of " + std::to_string(size) + " bytes";
        ExpectTextsInBlock(r, size, label);
        EXPECT_STREQ(r.country, "XYZW") << label;
        EXPECT_STREQ(r.area, "Unknown") << label;
    }
}

TEST_F(LocationDb, DamagedFilesStillYieldTwoTexts) {
    QqwryBuilder db;
    db.Add(Ip(1, 0, 0, 0), Ip(1, 255, 255, 255), "中国", "北京", CountryForm::Mode1Then2, AreaForm::Redirect1);
    db.Add(Ip(2, 0, 0, 0), Ip(2, 255, 255, 255), "韩国", "首尔", CountryForm::Mode2);
    db.Add(Ip(3, 0, 0, 0), Ip(3, 255, 255, 255), "法国", "巴黎", CountryForm::Mode1, AreaForm::Redirect2);
    std::vector<uint8_t> sound = db.Bytes();

    struct Damage {
        std::string name;
        std::vector<uint8_t> bytes;
    };
    std::vector<Damage> damages;
    for (size_t cut : {size_t(1), size_t(4), size_t(7), size_t(8), size_t(12), sound.size() / 2,
                       sound.size() - 10, sound.size() - 1}) {
        damages.push_back({"cut to " + std::to_string(cut) + " bytes",
                           std::vector<uint8_t>(sound.begin(), sound.begin() + cut)});
    }
    std::vector<uint8_t> ones(sound.size(), 0xFF);
    damages.push_back({"all 0xFF", ones});
    std::vector<uint8_t> wrapped = sound;
    std::memcpy(wrapped.data() + 4, "\0\0\0\0", 4);  // last offset 0, below the first
    damages.push_back({"last offset 0", wrapped});
    std::vector<uint8_t> pointers = sound;
    for (size_t at = 8; at + 3 <= pointers.size(); at += 5) std::memcpy(pointers.data() + at, "\xF0\xFF\xFF", 3);
    damages.push_back({"offsets smashed", pointers});

    for (const Damage &d : damages) {
        ReleaseLocationDb();
        WriteFile("qqwry.dat", d.bytes);
        for (const char *address : {"0.0.0.0", "1.0.0.1", "2.128.0.0", "3.255.255.255", "255.255.255.255"}) {
            LocationResult r = LookUp(address);
            ExpectTextsInBlock(r, d.bytes.size(), d.name + ", " + address);
        }
    }
}

}  // namespace
