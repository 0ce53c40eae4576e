#include "platform/plist/PlistFile.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <dlfcn.h>
#include <limits>
#include <plist/plist.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform::plist;
using namespace std::string_literals;
using sonvela::test::listDir;
using sonvela::test::readAll;
using sonvela::test::TempHome;
using sonvela::test::writeAll;

namespace platform::plist {
// Readable failure messages; XML shows every kind except a date's fraction.
void PrintTo(const Value& value, std::ostream* os) {
    if (const Date* date = value.get<Date>()) {
        *os << "Date{" << date->seconds << "}";
        return;
    }
    *os << toXml(value).value_or("(not writable as XML)");
}
} // namespace platform::plist

namespace {

// libplist copies a data value's bytes with memcpy, which must not be handed a null pointer
// even for no bytes: the calls that would are counted here on their way to libplist.
int nullDataPointers = 0;

} // namespace

extern "C" plist_t plist_new_data(const char* val, uint64_t length) {
    using Real = plist_t (*)(const char*, uint64_t);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "plist_new_data"));
    nullDataPointers += val == nullptr ? 1 : 0;
    return real(val, length);
}

namespace {

std::string bigEndian(std::uint64_t v, int size) {
    std::string out;
    for (int i = size - 1; i >= 0; --i) {
        out += static_cast<char>(v >> (8 * i));
    }
    return out;
}

std::string ref(std::uint64_t index) {
    return bigEndian(index, 4);
}

// A binary list from hand-made objects: 4-byte offsets and references.
std::string bplist(const std::vector<std::string>& objects, std::uint64_t root = 0) {
    std::string out = "bplist00";
    std::string table;
    for (const std::string& object : objects) {
        table += bigEndian(out.size(), 4);
        out += object;
    }
    std::uint64_t tableStart = out.size();
    return out + table + std::string(6, '\0') + "\x04\x04" + bigEndian(objects.size(), 8) +
           bigEndian(root, 8) + bigEndian(tableStart, 8);
}

// {"k": [1, "text"], key: true} with the given raw key object.
std::string smallBinary(const std::string& keyObject = "\x51k") {
    return bplist({"\xD2" + ref(1) + ref(2) + ref(3) + ref(4), "\x51k", keyObject,
                   "\xA2" + ref(5) + ref(6), "\x09", "\x10\x01"s, "\x54text"});
}

// Each array holds the next one `width` times: 40 levels of two make 2^40 copies once expanded.
std::string nestedArraysBinary(int depth, int width = 1) {
    std::vector<std::string> objects;
    for (int i = 0; i + 1 < depth; ++i) {
        objects.push_back(static_cast<char>(0xA0 + width) + ref(i + 1) +
                          (width > 1 ? ref(i + 1) : ""));
    }
    objects.push_back("\xA0");
    return bplist(objects);
}

std::string nestedArraysXml(int depth, bool closed = true) {
    std::string xml = "<plist version=\"1.0\">";
    for (int i = 0; i < depth; ++i) {
        xml += "<array>";
    }
    for (int i = 0; closed && i < depth; ++i) {
        xml += "</array>";
    }
    return xml + "</plist>";
}

Dictionary everyKind() {
    return {{"true", true},
            {"false", false},
            {"int", std::int64_t{-42}},
            {"min", std::numeric_limits<std::int64_t>::min()},
            {"max", std::numeric_limits<std::int64_t>::max()},
            {"real", 0.53f},
            {"huge", -1e30},
            {"text", "h\xC3\xA9llo <&> \xF0\x9F\x94\x8A\ttab"},
            {"empty", ""},
            {"data", Data{{0, 1, 2, 255}}},
            {"noData", Data{}},
            {"date", Date{599627045}},
            {"before2001", Date{-86400}},
            {"after2069", Date{3124137600}},
            {"uid", Uid{7}},
            {"array", Array{1, "x", Array{}, Dictionary{}}},
            {"nested", Dictionary{{"deeper", Dictionary{{"k", 2.5}}}}}};
}

// Runs a script with plistlib, the reader and writer other tools use; `home` is the temp home.
std::string python(const TempHome& home, const std::string& script) {
    std::string path = home.path() + "/script.py";
    writeAll(path, "import plistlib, datetime, sys\nhome = sys.argv[1]\n" + script);
    std::string command = "python3 " + path + " " + home.path() + " > " + path + ".out 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << readAll(path + ".out");
    return readAll(path + ".out");
}

} // namespace

TEST(PlistFile, EveryKindRoundTripsAsRootAndInsideADictionary) {
    Dictionary all = everyKind();
    for (const auto& [name, value] : all) {
        std::optional<std::string> xml = toXml(value);
        ASSERT_TRUE(xml) << name;
        EXPECT_EQ(parse(*xml), value) << name;
    }
    EXPECT_EQ(parse(*toXml(all)), Value(all));
    EXPECT_EQ(nullDataPointers, 0);
}

TEST(PlistFile, NonFiniteAndExtremeRealsStayNumbers) {
    for (double d : {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e30, -1e-300, -0.5}) {
        std::optional<Value> back = parse(*toXml(Dictionary{{"r", d}}));
        ASSERT_TRUE(back && back->get<Dictionary>()->at("r").is<double>()) << d;
        double r = *back->get<Dictionary>()->at("r").get<double>();
        EXPECT_TRUE(std::isnan(d) ? std::isnan(r) : r == d) << d;
    }
}

TEST(PlistFile, NestingUpToTheLimitIsReadAndBeyondIsRefused) {
    EXPECT_TRUE(parse(nestedArraysXml(kMaxDepth)));
    EXPECT_FALSE(parse(nestedArraysXml(kMaxDepth + 1)));
    EXPECT_TRUE(parse(nestedArraysBinary(kMaxDepth)));
    EXPECT_FALSE(parse(nestedArraysBinary(kMaxDepth + 1)));
    Value deep = Array{};
    for (int i = 0; i < kMaxDepth; ++i) {
        deep = Array{deep};
    }
    EXPECT_FALSE(toXml(deep));
}

TEST(PlistFile, BrokenOrHostileBytesGiveNothing) {
    std::string xml = *toXml(everyKind());
    std::string binary = smallBinary();
    ASSERT_TRUE(parse(binary));
    const std::pair<const char*, std::string> cases[] = {
        {"empty", ""},
        {"text", "hello"},
        {"truncated xml", xml.substr(0, xml.size() / 2)},
        {"truncated binary", binary.substr(0, binary.size() - 5)},
        {"binary garbage", "bplist00" + std::string(200, '\xA7')},
        {"xml 300000 deep", nestedArraysXml(300000, false)},
        {"binary 200000 deep", nestedArraysBinary(200000)},
        {"binary key with NUL", smallBinary("\x54\0\0\0\0"s)},
        {"binary UTF-16 key with NUL", smallBinary("\x62\0a\0\0"s)},
        {"binary 2^40 shared copies", nestedArraysBinary(40, 2)},
        {"xml key with NUL", "<plist><dict><key>a\0b</key><true/></dict></plist>"s},
        {"binary cycle", bplist({"\xA1" + ref(1), "\xA1" + ref(0)})},
        {"binary ref out of range", bplist({"\xA1" + ref(9)})},
        {"binary root out of range", bplist({"\x09"}, 3)},
        {"binary key not text", bplist({"\xD1" + ref(1) + ref(1), "\x09"})},
        {"too large", std::string(kMaxFileSize + 1, ' ')},
    };
    for (const auto& [name, bytes] : cases) {
        EXPECT_FALSE(parse(bytes)) << name;
    }
}

TEST(PlistFile, UnreadableFilesGiveNothing) {
    TempHome home;
    std::string base = home.path() + "/";
    writeAll(base + "array.plist", *toXml(Array{1}));
    writeAll(base + "big.plist", std::string(10 * 1024 * 1024, ' '));
    writeAll(base + "real.plist", *toXml(Dictionary{{"k", 1}}));
    ASSERT_EQ(mkfifo((base + "fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink((base + "nowhere").c_str(), (base + "dangling").c_str()), 0);
    ASSERT_EQ(symlink((base + "real.plist").c_str(), (base + "link").c_str()), 0);
    for (const char* name : {"missing", "fifo", "dangling", "big.plist", "array.plist", ""}) {
        EXPECT_FALSE(readDictionary(base + name)) << name;
    }
    EXPECT_TRUE(readFile(base + "array.plist"));
    EXPECT_EQ(readDictionary(base + "link"), (Dictionary{{"k", 1}}));
}

TEST(PlistFile, TextOtherReadersWouldRejectIsNeverWritten) {
    TempHome home;
    std::string folder = home.path() + "/kept";
    sonvela::test::makeDirs(folder);
    std::string path = folder + "/kept.plist";
    ASSERT_TRUE(writeXmlAtomically(path, Dictionary{{"old", true}}));
    std::string before = readAll(path);
    const std::string bad[] = {std::string(4, '\0'), "a\x01",        "\xFF",
                               "\xC0\x80",           "\xED\xA0\x80", "\xE2\x82"};
    for (const std::string& text : bad) {
        EXPECT_FALSE(toXml(Dictionary{{text, 1}}));
        EXPECT_FALSE(toXml(Dictionary{{"k", Array{text}}}));
        EXPECT_FALSE(writeXmlAtomically(path, Dictionary{{text, 1}}));
        EXPECT_EQ(readAll(path), before);
        EXPECT_EQ(listDir(folder), std::vector<std::string>{"kept.plist"});
    }
}

TEST(PlistFile, PythonReadsWhatWeWriteAndWeReadWhatItWritesAsXmlAndBinary) {
    TempHome home;
    Dictionary ours = everyKind();
    ours.erase("uid"); // plistlib reads references only from binary lists
    ASSERT_TRUE(writeXmlAtomically(home.path() + "/ours.plist", ours));
    EXPECT_EQ(python(home,
                     "d = plistlib.load(open(home + '/ours.plist', 'rb'))\n"
                     "assert d['min'] == -2**63 and d['real'] == 0.52999997138977051\n"
                     "assert d['text'] == 'h\\u00e9llo <&> \\U0001F50A\\ttab'\n"
                     "assert d['date'] == datetime.datetime(2020, 1, 2, 3, 4, 5)\n"
                     "assert d['data'] == bytes([0, 1, 2, 255]) and d['array'][3] == {}\n"
                     "d = {'b': True, 'i': -42, 's': 'caf\\u00e9', 'r': 0.75,\n"
                     "     'd': b'\\x00\\xff', 'a': [1, {'x': 'y'}],\n"
                     "     't': datetime.datetime(2020, 1, 2, 3, 4, 5)}\n"
                     "plistlib.dump(d, open(home + '/py.xml', 'wb'))\n"
                     "d['u'] = plistlib.UID(3)\n"
                     "d['t'] = datetime.datetime(2020, 1, 2, 3, 4, 5, 500000)\n"
                     "d['t2'] = datetime.datetime(2000, 12, 31, 23, 59, 59, 750000)\n"
                     "d['t3'] = datetime.datetime(2100, 1, 1)\n"
                     "plistlib.dump(d, open(home + '/py.bin', 'wb'), fmt=plistlib.FMT_BINARY)\n"),
              "");
    Dictionary expected = {{"b", true},           {"i", -42},
                           {"s", "caf\xC3\xA9"},  {"r", 0.75},
                           {"d", Data{{0, 255}}}, {"a", Array{1, Dictionary{{"x", "y"}}}},
                           {"t", Date{599627045}}};
    EXPECT_EQ(readDictionary(home.path() + "/py.xml"), expected);
    expected["u"] = Uid{3};
    expected["t"] = Date{599627045.5};
    expected["t2"] = Date{-0.25};
    expected["t3"] = Date{3124137600};
    EXPECT_EQ(readDictionary(home.path() + "/py.bin"), expected);
}

TEST(PlistValue, FloatValueReadsNumbersBooleansAndLeadingText) {
    const std::pair<Value, float> numbers[] = {
        {1, 1.0f},     {0.75, 0.75f},     {true, 1.0f},      {false, 0.0f},
        {"0.5", 0.5f}, {" 0.25x", 0.25f}, {"-2e1z", -20.0f}, {1e300, HUGE_VALF}};
    for (const auto& [value, expected] : numbers) {
        EXPECT_EQ(value.floatValue(), expected);
    }
    for (const Value& none : {Value("abc"), Value(""), Value("-"), Value(Array{}), Value(Data{})}) {
        EXPECT_FALSE(none.floatValue());
    }
}

TEST(PlistFile, RandomlyDamagedInputNeverTakesTheProgramDown) {
    const std::string seeds[] = {
        *toXml(everyKind()), smallBinary(), nestedArraysBinary(40),
        bplist({"\xA3" + ref(1) + ref(1) + ref(2), "\x33" + std::string(8, 'A'), "\x61\0\x41"s})};
    std::mt19937 random(20240601);
    int parsed = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string bytes = seeds[round % std::size(seeds)];
        for (int edits = 1 + random() % 4; edits > 0 && !bytes.empty(); --edits) {
            std::size_t at = random() % bytes.size();
            int kind = random() % 3;
            if (kind == 0) {
                bytes[at] = static_cast<char>(random());
            } else if (kind == 1) {
                bytes.resize(at);
            } else {
                bytes.insert(at, bytes.substr(random() % bytes.size(), random() % 16));
            }
        }
        parsed += parse(bytes).has_value();
    }
    EXPECT_GT(parsed, 0);
}
