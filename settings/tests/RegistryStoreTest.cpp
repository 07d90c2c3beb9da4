#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "settings/RegistryStore.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Utf16z(std::string_view text) {
    Bytes data = Utf16LeFromUtf8(text);
    data.push_back(0);
    data.push_back(0);
    return data;
}

// Same names (case included), types, bytes and shape.
void ExpectSameTree(const RegKey& a, const RegKey& b, const std::string& path) {
    EXPECT_EQ(a.Name(), b.Name()) << path;
    const auto valuesA = a.Values(), valuesB = b.Values();
    ASSERT_EQ(valuesA.size(), valuesB.size()) << path;
    for (std::size_t i = 0; i < valuesA.size(); ++i) {
        EXPECT_EQ(valuesA[i]->name, valuesB[i]->name) << path;
        EXPECT_EQ(valuesA[i]->type, valuesB[i]->type) << path << " " << valuesA[i]->name;
        EXPECT_EQ(valuesA[i]->data, valuesB[i]->data) << path << " " << valuesA[i]->name;
    }
    const auto subA = a.SubKeys();
    const auto subB = b.SubKeys();
    ASSERT_EQ(subA.size(), subB.size()) << path;
    for (std::size_t i = 0; i < subA.size(); ++i) {
        ExpectSameTree(*subA[i], *subB[i], path + "\\" + subA[i]->Name());
    }
}

TEST(RegistryStore, FormatThenParseKeepsEveryByte) {
    CRegistryStore store;
    RegKey& key = *store.CurrentUser().CreateKey("Software\\Kelvaro\\Quorvel");
    key.SetString("", "既定の値");
    key.SetString("Path", "/home/ユーザー/スキャン \"1\"\\a.png");
    key.SetString("name \"with\" quotes\\and\\backslashes", "x");
    key.SetDword("Negative", 0xFFFFFFFEu);
    key.SetValue("NoTerminator", REG_SZ, {0x61, 0, 0x62, 0});
    key.SetValue("OddLength", REG_SZ, {0x61, 0, 0});
    key.SetString("LineBreak", "a\r\nb");
    key.SetString("NotUtf8", "/tmp/\xE9t\xE9\xFF.png");  // Latin-1 file name bytes
    key.SetValue("LoneSurrogate", REG_SZ, {0x00, 0xD8, 0, 0});
    key.SetValue("ZeroBytes", REG_SZ, {});
    key.SetValue("Multi", REG_MULTI_SZ, {0x61, 0, 0, 0, 0x62, 0, 0, 0, 0, 0});
    key.SetValue("ShortDword", REG_DWORD, {1, 2});
    key.SetValue("Unknown", 0x12345, {0xAB});
    Bytes blob(300);  // wraps over several lines
    std::generate(blob.begin(), blob.end(), [i = 0]() mutable { return i += 7; });
    key.SetValue("Blob", REG_BINARY, blob);
    store.CurrentUser().CreateKey("Software\\Kelvaro\\Empty Key");
    store.Root().CreateKey("HKEY_LOCAL_MACHINE\\Other")->SetDword("x", 1);

    const std::string text = store.Format();
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n\n", 0), 0u);
    EXPECT_NE(text.find("\"Path\"=\"/home/ユーザー/スキャン \\\"1\\\"\\\\a.png\"\n"),
              std::string::npos);
    EXPECT_NE(text.find("\"Unknown\"=hex(12345):ab\n"), std::string::npos);
    // Parents without values are implied, not written.
    EXPECT_EQ(text.find("[HKEY_CURRENT_USER\\Software]"), std::string::npos);
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
        EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
    }

    CRegistryStore back;
    const RegParseReport report = back.Parse(text);
    EXPECT_TRUE(report.Clean()) << report.firstBadLine;
    ExpectSameTree(store.Root(), back.Root(), "");
    EXPECT_EQ(back.Format(), text);
}

TEST(RegistryStore, ReadsExportedTextInItsVariants) {
    const std::string text =
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
        "\r\n"
        "; a comment\r\n"
        "[HKEY_CURRENT_USER\\Software\\A]\r\n"
        "\"Str\"=\"x \\\"y\\\" \\\\z\"\r\n"
        "\"Num\" = DWORD:0000FFFF\r\n"
        "\"Bin\"=hex:01,02,\\\r\n"
        "  03,04,\\\r\n"
        "  05\r\n"
        "\"Gone\"=\"soon\"\r\n"
        "\"Gone\"=-\r\n"
        "[HKEY_CURRENT_USER\\Software\\B\\C]\r\n"
        "@=\"default\"\r\n"
        "[-HKEY_CURRENT_USER\\Software\\B]\r\n"
        "[hkey_current_user\\software\\a]\r\n"
        "\"Str\"=\"replaced\"\r\n"
        "\"Multi\"=hex(7):61,00,00,00,00,00\r\n";
    CRegistryStore store;
    const RegParseReport report = store.Parse(text);
    EXPECT_TRUE(report.Clean()) << report.firstBadLine;
    const RegKey* a = store.CurrentUser().OpenKey("Software\\A");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Value("Str")->data, Utf16z("replaced"));
    std::uint32_t num = 0;
    EXPECT_TRUE(a->QueryDword("num", num));
    EXPECT_EQ(num, 0xFFFFu);
    EXPECT_EQ(a->Value("Bin")->data, (Bytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(a->Value("Gone"), nullptr);
    EXPECT_EQ(store.CurrentUser().OpenKey("Software\\B"), nullptr);
    EXPECT_EQ(a->Name(), "A");  // the case first written

    // The registry editor's own UTF-16LE files.
    const Bytes wide = Utf16LeFromUtf8(
        "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\K]\r\n"
        "\"名前\"=\"値\"\r\n");
    std::string utf16 = "\xFF\xFE";
    utf16.append(wide.begin(), wide.end());
    CRegistryStore fromWide;
    EXPECT_TRUE(fromWide.Parse(utf16).Clean());
    EXPECT_EQ(fromWide.CurrentUser().OpenKey("K")->Value("名前")->data, Utf16z("値"));
}

TEST(RegistryStore, BadLinesAreSkippedCountedAndTheRestIsUsed) {
    const std::string text =
        "REGEDIT4\n"                         // 1 wrong header
        "\"Orphan\"=dword:00000001\n"        // 2 value before any key
        "[HKEY_CURRENT_USER\\Good]\n"        // 3
        "\"A\"=dword:00000001\n"             // 4
        "\"B\"=dword:123456789\n"            // 5 nine digits
        "\"C\"=\"unterminated\n"             // 6
        "\"D\"=hex:01,zz\n"                  // 7
        "\"E\"=\"x\" trailing\n"             // 8
        "\"F\"=hex(1):41,00,\\\n"            // 9 continuation cut by a key line
        "[HKEY_CURRENT_USER\\Bad\\\\Key]\n"  // 10 empty name
        "\"G\"=dword:00000002\n"             // 11 under the bad key
        "[HKEY_CURRENT_USER\\Good]\n"        // 12
        "garbage\n"                          // 13
        "\"H\"=hex(2):41,00,00,00\n";        // 14
    CRegistryStore store;
    const RegParseReport report = store.Parse(text);
    EXPECT_FALSE(report.headerOk);
    EXPECT_EQ(report.firstBadLine, 1u);
    EXPECT_EQ(report.badLines, 10u);
    const RegKey* good = store.CurrentUser().OpenKey("Good");
    ASSERT_NE(good, nullptr);
    EXPECT_EQ(good->Values().size(), 2u);
    EXPECT_NE(good->Value("A"), nullptr);
    EXPECT_EQ(good->Value("H")->type, REG_EXPAND_SZ);
    EXPECT_EQ(store.CurrentUser().OpenKey("Bad"), nullptr);
}

// Many values under one key (their speed is measured in bench/): found by
// any case of their name, kept in the order first set, deleted and set again.
TEST(RegistryStore, TwentyThousandValuesUnderOneKey) {
    std::string text = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\K]\n";
    for (int i = 0; i < 20000; ++i) {
        text += "\"Value" + std::to_string(i) + "\"=dword:" + std::to_string(i % 10) + "\n";
    }
    for (int i = 0; i < 20000; i += 2) {
        text += "\"value" + std::to_string(i) + "\"=-\n";
    }
    text += "\"VALUE0\"=dword:00000007\n\"Value1\"=dword:00000008\n";
    CRegistryStore store;
    ASSERT_TRUE(store.Parse(text).Clean());
    const RegKey* key = store.CurrentUser().OpenKey("K");
    ASSERT_NE(key, nullptr);
    const std::vector<const RegValue*> values = key->Values();
    ASSERT_EQ(values.size(), 10001u);
    EXPECT_EQ(values[0]->name, "Value1");
    EXPECT_EQ(values[9999]->name, "Value19999");
    EXPECT_EQ(values[10000]->name, "VALUE0") << "set again after its deletion: last";
    std::uint32_t v = 0;
    EXPECT_TRUE(key->QueryDword("value1", v));
    EXPECT_EQ(v, 8u);
    EXPECT_TRUE(key->QueryDword("VALUE19999", v));
    EXPECT_EQ(v, 9u);
    EXPECT_EQ(key->Value("Value2"), nullptr);
    CRegistryStore back;
    ASSERT_TRUE(back.Parse(store.Format()).Clean());
    EXPECT_EQ(back.Format(), store.Format());
}

TEST(RegistryStore, KeysAndValuesByNameAndPath) {
    CRegistryStore store;
    RegKey& user = store.CurrentUser();
    RegKey* key = user.CreateKey("Software\\Kelvaro");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(user.CreateKey("software\\KELVARO"), key) << "names ignore case";
    key->SetDword("Count", 1);
    key->SetDword("COUNT", 2);
    ASSERT_EQ(key->Values().size(), 1u);
    EXPECT_EQ(key->Values()[0]->name, "Count") << "the case first written";
    EXPECT_FALSE(key->SetDword("bad\nname", 1));
    for (const char* bad : {"\\a", "a\\\\b", "x\ny"}) {
        EXPECT_EQ(user.CreateKey(bad), nullptr) << bad;
    }
    EXPECT_EQ(key->CreateSubKey(std::string(256, 'k')), nullptr);
    std::string deep = "k";
    for (std::size_t i = 0; i < kMaxKeyDepth; ++i) {
        deep += "\\k";
    }
    EXPECT_EQ(user.CreateKey(deep), nullptr);

    key->CreateSubKey("b");
    key->CreateSubKey("A");
    key->CreateSubKey("c")->CreateSubKey("d");
    EXPECT_EQ(key->SubKeys().front()->Name(), "A") << "sorted ignoring case";
    EXPECT_TRUE(user.DeleteKey("software\\kelvaro\\C"));
    EXPECT_EQ(user.OpenKey("Software\\Kelvaro\\c\\d"), nullptr);
    EXPECT_FALSE(user.DeleteKey(""));
}

}  // namespace
