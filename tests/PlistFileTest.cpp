#include "platform/plist/PlistFile.h"
#include "platform/audio/OutputKinds.h"
#include "platform/fs/FileManager.h"
#include "platform/process/ProgramRunner.h"
#include "shared/VolumeTable.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <dlfcn.h>
#include <functional>
#include <plist/plist.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace platform::fs;
using namespace platform::plist;
using namespace sonvela::test;
using namespace std::string_literals;

// libplist memcpy's a data value's bytes, which must not come from a null pointer even when
// there are none: such calls are counted here on their way to libplist.
static int nullDataPointers = 0;
extern "C" plist_t plist_new_data(const char* val, uint64_t length) {
    static const auto real =
        reinterpret_cast<plist_t (*)(const char*, uint64_t)>(dlsym(RTLD_NEXT, "plist_new_data"));
    nullDataPointers += val == nullptr ? 1 : 0;
    return real(val, length);
}

namespace {

// A big-endian number, by default of the 4 bytes our hand-made binary lists use.
std::string big(std::uint64_t v, int size = 4) {
    return size == 0 ? "" : big(v >> 8, size - 1) + char(v);
}

// A binary list of hand-made objects, with 4-byte offsets and references.
std::string bplist(const std::vector<std::string>& objects, std::uint64_t root = 0) {
    std::string out = "bplist00", table;
    for (const std::string& object : objects) {
        table += big(out.size());
        out += object;
    }
    return out + table + std::string(6, '\0') + "\x04\x04" + big(objects.size(), 8) + big(root, 8) +
           big(out.size(), 8);
}

// {"k": [1, "text"], key: true} with the raw key object given.
std::string smallBinary(const std::string& keyObject = "\x51k") {
    return bplist({"\xD2" + big(1) + big(2) + big(3) + big(4), "\x51k", keyObject,
                   "\xA2" + big(5) + big(6), "\x09", "\x10\x01"s, "\x54text"});
}

// Each array holds the next one `width` times: 40 levels of two make 2^40 copies once expanded.
std::string nestedBinary(int depth, int width = 1) {
    std::vector<std::string> objects;
    for (int i = 1; i < depth; ++i) {
        objects.push_back(char(0xA0 + width) + big(i) + (width > 1 ? big(i) : ""));
    }
    objects.push_back("\xA0");
    return bplist(objects);
}

std::string xmlTable(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" + body +
           "</dict>\n</plist>\n";
}

// Python's plistlib, another program's reader and writer: what it printed.
std::string plistlib(const std::vector<std::string>& arguments) {
    std::vector<std::string> all{SONVELA_SOURCE_DIR "/tests/support/odd_plists.py"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return platform::process::runProgram(SONVELA_PYTHON3, all).value_or("");
}

std::string nestedXml(int depth, bool closed = true) {
    std::string xml = "<plist version=\"1.0\">";
    for (int i = 0; i < depth * (closed ? 2 : 1); ++i) {
        xml += i < depth ? "<array>" : "</array>";
    }
    return xml + "</plist>";
}

TEST(PlistFile, BrokenHostileOrOversizedBytesGiveNothing) {
    const std::string xml = *toXml(Dictionary{{"k", Array{1, "text"}}}), binary = smallBinary();
    const std::string padded = xml + std::string(kMaxFileSize - xml.size(), ' ');
    std::string badOffset = bplist({"\xA1" + big(1), "\x09"});
    badOffset.replace(18, 4, big(1 << 30)); // the second object's offset
    const std::tuple<const char*, std::string, bool> cases[] = {
        {"binary", binary, true},
        {"xml at the size limit", padded, true},
        {"xml over the size limit", padded + " ", false},
        {"xml at the depth limit", nestedXml(kMaxDepth), true},
        {"xml over the depth limit", nestedXml(kMaxDepth + 1), false},
        {"binary at the depth limit", nestedBinary(kMaxDepth), true},
        {"binary over the depth limit", nestedBinary(kMaxDepth + 1), false},
        {"empty", "", false},
        {"truncated xml", xml.substr(0, xml.size() / 2), false},
        {"truncated binary", binary.substr(0, binary.size() - 5), false},
        {"xml 300000 deep", nestedXml(300000, false), false},
        {"binary 200000 deep", nestedBinary(200000), false},
        {"binary 2^40 shared copies", nestedBinary(40, 2), false},
        {"binary 2^13 shared copies", nestedBinary(13, 2), false},
        {"binary 2^10 shared copies", nestedBinary(10, 2), true},
        {"xml key with NUL", "<plist><dict><key>a\0b</key><true/></dict></plist>"s, false},
        {"binary key with NUL", smallBinary("\x54\0\0\0\0"s), false},
        {"binary UTF-16 key with NUL", smallBinary("\x62\0a\0\0"s), false},
        {"binary key not text", bplist({"\xD1" + big(1) + big(1), "\x09"}), false},
        {"binary offset out of range", badOffset, false},
        {"binary root out of range", bplist({"\x09"}, 3), false},
        {"xml stand-in beside a 65-bit integer",
         "<plist><array><integer>-0x10000000000000000</integer><string>&#1;0&#1;</string></array>"
         "</plist>",
         false},
        {"binary 16-byte unsigned", bplist({"\x14" + big(0, 8) + big(UINT64_MAX, 8)}), true},
        {"binary 16-byte beyond unsigned", bplist({"\x14" + big(1, 8) + big(0, 8)}), false},
        {"binary 16-byte negative", bplist({"\x14" + big(UINT64_MAX, 8) + big(UINT64_MAX, 8)}),
         false},
    };
    for (const auto& [name, bytes, readable] : cases) {
        EXPECT_EQ(parse(bytes).has_value(), readable) << name;
    }
}

// What ships for the kinds of output: a default volume for each kind but the ignored one and
// nothing else, and for every kind an icon. (Their names the window lists.)
TEST(Resources, EveryKindOfOutputHasItsDefaultVolumeAndIcon) {
    const std::string resources = SONVELA_SOURCE_DIR "/resources/";
    std::optional<Dictionary> defaults = readDictionary(resources + "DefaultConfig.plist");
    std::optional<Dictionary> icons = readDictionary(resources + "Sonvela/AudioDeviceIcon.strings");
    ASSERT_TRUE(defaults && icons);
    EXPECT_EQ(defaults->size(), platform::audio::kOutputKinds.size() - 1);
    for (std::string_view kind : platform::audio::kOutputKinds) {
        const std::string key(kind);
        std::optional<float> volume =
            defaults->count(key) ? defaults->at(key).floatValue() : std::nullopt;
        EXPECT_EQ(volume.has_value(), kind != platform::audio::kIgnoredOutputKind) << key;
        EXPECT_TRUE(!volume || (*volume >= 0.0f && *volume <= 1.0f)) << key;
        EXPECT_TRUE(icons->count(key) && icons->at(key).is<std::string>()) << key;
    }
}

// A file over the cap is refused by its size, before a byte of it is read or held in memory.
TEST(PlistFile, AnOversizedFileIsRefusedBeforeItIsRead) {
    TempHome home;
    const std::string path = home.path() + "/config.plist", xml = *toXml(Dictionary{{"k", 1}});
    writeAll(path, xml + std::string(kMaxFileSize - xml.size(), ' '));
    EXPECT_TRUE(readFile(path).has_value()) << "at the cap";
    ASSERT_EQ(truncate(path.c_str(), 100 << 20), 0);
    platform::fs::FileDescriptor file = platform::fs::openRegularFile(path);
    EXPECT_EQ(readFile(file), std::nullopt);
    EXPECT_EQ(lseek(file.get(), 0, SEEK_CUR), 0) << "bytes were read";
}

// Text that XML cannot carry is never written, nor a table that would grow too large.
TEST(VolumeTable, WhatCannotBeWrittenWholeIsNotWritten) {
    TempHome home;
    const std::string folder = home.configHome(), path = folder + "/config.plist";
    EXPECT_FALSE(VolumeTable::storeVolume(path, "hdpn", 0.5f)); // no table: none is made
    ASSERT_TRUE(writeXmlAtomically(path, Dictionary{{"hdmi", 0.35f}}));
    const std::string before = readAll(path);
    for (const std::string& text :
         {"\0\0\0\0"s, "a\x01"s, "\xFF"s, "\xC0\x80"s, "\xED\xA0\x80"s, "\xE2\x82"s}) {
        EXPECT_FALSE(toXml(Dictionary{{"k", Array{text}}}));
        testing::internal::CaptureStderr();
        EXPECT_FALSE(VolumeTable::storeVolume(path, text, 0.5f));
        EXPECT_NE(testing::internal::GetCapturedStderr().find(
                      "not written: it holds a key or value that XML cannot carry"),
                  std::string::npos);
    }
    EXPECT_EQ(readAll(path), before);
    // Half a million references to one shared true: 2 MB as read, over 4 MiB written out.
    std::string trues;
    for (int i = 0; i < 500000; ++i) {
        trues += big(3);
    }
    const std::vector<std::string> shared{"\xD1" + big(1) + big(2), "\x54list",
                                          "\xAF\x12" + big(500000) + trues, "\x09"};
    writeAll(path, bplist(shared));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(VolumeTable::storeVolume(path, "hdpn", 0.5f));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("or would be larger than 4 MiB"),
              std::string::npos);
    EXPECT_EQ(readAll(path), bplist(shared));
    EXPECT_EQ(listDir(folder), std::vector<std::string>{"config.plist"});
}

TEST(VolumeTable, NumbersAndNumericTextAreVolumesAndNothingElseIs) {
    TempHome home;
    const std::string path = home.path() + "/config.plist";
    const std::pair<Value, std::optional<float>> cases[] = {
        {1, 1.0f},           {0.75, 0.75f},           {true, 1.0f},           {false, 0.0f},
        {"0.5", 0.5f},       {" 0.25x", 0.25f},       {"-2e1z", -20.0f},      {1e300, HUGE_VALF},
        {NAN, std::nullopt}, {"nan", std::nullopt},   {"abc", std::nullopt},  {"", std::nullopt},
        {"-", std::nullopt}, {Array{}, std::nullopt}, {Data{}, std::nullopt},
    };
    for (const auto& [value, volume] : cases) {
        ASSERT_TRUE(writeXmlAtomically(path, Dictionary{{"hdpn", value}}));
        EXPECT_EQ(VolumeTable::storedVolume(path, "hdpn"), volume) << readAll(path);
    }
    EXPECT_EQ(VolumeTable::storedVolume(path, "hdmi"), std::nullopt);
}

// Each number as written, however far out of range: by its sign when too large, as the tiny
// number it is when too small, unsigned when it was written unsigned.
TEST(VolumeTable, EveryNumberReadsAsWritten) {
    TempHome home;
    const std::string path = home.path() + "/config.plist";
    const float inf = HUGE_VALF;
    const std::pair<std::string, std::optional<float>> cases[] = {
        {"<integer>-99999999999999999999</integer>", -inf},
        {"<integer>-18446744073709551615</integer>", -inf},
        {"<integer>-9223372036854775809</integer>", -inf},
        {"<integer>-9223372036854775808</integer>", -9223372036854775808.0f},
        {"<integer>18446744073709551615</integer>", 18446744073709551615.0f},
        {"<integer> 99999999999999999999 </integer>", inf},
        {"<integer>0x1FFFFFFFFFFFFFFFF</integer>", inf},
        {"<integer>-0x8000000000000001</integer>", -inf},
        {"<string>0." + std::string(45, '0') + "1</string>", 0.0f},
        {"<string>-0." + std::string(45, '0') + "1</string>", -0.0f},
        {"<string>" + std::string(50, '1') + "</string>", inf},
        {"<string>0.00001e45</string>", inf},
        {"<string>100e-48</string>", 0.0f},
        {"<string>1e99999999999999999999999</string>", inf},
        {"<string>1e-99999999999999999999999</string>", 0.0f},
        {"<string>-1e39</string>", -inf},
    };
    for (const auto& [entry, volume] : cases) {
        writeAll(path, xmlTable("<key>hdpn</key>" + entry));
        EXPECT_EQ(VolumeTable::storedVolume(path, "hdpn"), volume) << entry;
    }
}

// Another program's table with a volume stored into it: every other key, read by that program,
// keeps its value to the bit, from either format. What XML cannot hold at all is not written.
TEST(VolumeTable, StoringAVolumeKeepsAnotherProgramsValuesExactly) {
    TempHome home;
    const std::string source = home.path() + "/source.plist";
    const std::string path = home.path() + "/config.plist";
    const std::string beyond64Bits =
        xmlTable("<key>below</key><integer>-99999999999999999999</integer>"
                 "<key>above</key><integer>0x1FFFFFFFFFFFFFFFF</integer>"
                 "<key>hdpn</key><real>0.5</real>");
    const std::pair<const char*, std::string> sources[] = {
        {"xml", ""}, {"binary", ""}, {"beyond 64 bits", beyond64Bits}};
    for (const auto& [format, written] : sources) {
        if (written.empty()) {
            plistlib({"write", format, source});
        } else {
            writeAll(source, written);
        }
        writeAll(path, readAll(source));
        ASSERT_TRUE(VolumeTable::storeVolume(path, "hdpn", 0.42f)) << format;
        // Only the volume changed.
        EXPECT_EQ(plistlib({"compare", source, path}), "hdpn: 0.41999998688697815\n") << format;
        // Ours too, but for NaN, which equals nothing.
        Dictionary before = *readDictionary(source), after = *readDictionary(path);
        before["hdpn"] = 0.42f;
        before.erase("nan");
        after.erase("nan");
        EXPECT_TRUE(after == before) << format;
    }
    EXPECT_EQ(nullDataPointers, 0);
}

// Another thread reads the path over and over while `act` runs: all it may find there is one
// of the versions whole, or nothing.
void expectWholeReadsDuring(const std::string& path, const std::vector<std::string>& versions,
                            const std::function<void()>& act) {
    std::atomic<bool> done = false;
    std::atomic<int> reads = 0, partial = 0;
    std::thread reader([&] {
        for (; !done; ++reads) {
            std::string seen = exists(path) ? readAll(path) : versions.front();
            partial += std::find(versions.begin(), versions.end(), seen) == versions.end();
        }
    });
    while (reads == 0) {
        std::this_thread::yield();
    }
    act();
    done = true;
    reader.join();
    EXPECT_EQ(partial, 0) << path;
}

TEST(FileManager, RacingCopiesLeaveOneWholeFileAndNeverReplaceOne) {
    TempHome home;
    const std::string folder = home.path() + "/race/", target = folder + "target";
    std::vector<std::string> versions;
    makeDirs(folder);
    for (char name = '0'; name < '4'; ++name) {
        versions.push_back(std::string(2 << 20, name));
        writeAll(folder + name, versions.back());
    }
    // Rounds, so that a reader is sure to look while some copy is on its way.
    for (int round = 0; round < 10; ++round) {
        unlink(target.c_str());
        std::atomic<int> copies = 0;
        expectWholeReadsDuring(target, versions, [&] {
            std::vector<std::jthread> copiers;
            for (char name = '0'; name < '4'; ++name) {
                copiers.emplace_back([&, name] { copies += copyItem(folder + name, target); });
            }
        });
        EXPECT_EQ(copies, 1);
    }
    EXPECT_EQ(listDir(folder).size(), 5u); // no temporary file left
}

// One writer lives through it all while others are killed as they write: no clean-up may take
// its temporary file; the next write removes what the killed ones left and keeps the mode.
TEST(FileManager, KilledWritersLeaveNothingThatReadersOrTheNextWriteWouldSee) {
    TempHome home;
    const std::string folder = home.path() + "/k", path = folder + "/file";
    const std::string bytes(256 << 10, 'x');
    makeDirs(folder);
    ASSERT_TRUE(writeFileAtomically(path, bytes));
    chmod(path.c_str(), 0640);
    std::atomic<bool> stop = false, steadyWrote = true;
    std::jthread steady([&] {
        while (!stop) {
            steadyWrote = writeFileAtomically(path, bytes) && steadyWrote;
        }
    });
    expectWholeReadsDuring(path, {bytes}, [&] {
        for (int i = 0; i < 40; ++i) {
            pid_t victim = fork();
            while (victim == 0) {
                writeFileAtomically(path, bytes);
            }
            usleep(1000 + 1000 * (i % 5));
            kill(victim, SIGKILL);
            waitpid(victim, nullptr, 0);
        }
    });
    stop = true;
    steady.join();
    EXPECT_TRUE(steadyWrote);
    ASSERT_TRUE(writeFileAtomically(path, "last"));
    EXPECT_EQ(listDir(folder), std::vector<std::string>{"file"});
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0u, 0640u);
}

// A read-change-write whose file another program created or replaced since the read writes
// nothing: the other program's change stays.
TEST(FileManager, AWriteOfWhatWasReadLeavesAFileThatCameMeanwhile) {
    TempHome home;
    const std::string path = home.path() + "/file";
    EXPECT_EQ(writeFileAtomicallyIfUnchanged(path, "first", std::nullopt), WriteOutcome::Written);
    std::optional<FileIdentity> read = identityAt(path);
    ASSERT_TRUE(writeFileAtomically(path, "theirs"));
    EXPECT_EQ(writeFileAtomicallyIfUnchanged(path, "ours", read), WriteOutcome::Changed);
    EXPECT_EQ(writeFileAtomicallyIfUnchanged(path, "ours", std::nullopt), WriteOutcome::Changed);
    EXPECT_EQ(readAll(path), "theirs");
    EXPECT_EQ(writeFileAtomicallyIfUnchanged(path, "ours", identityAt(path)),
              WriteOutcome::Written);
    EXPECT_EQ(readAll(path), "ours");
}

} // namespace
