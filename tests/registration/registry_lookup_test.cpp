// Who owns a browser's host key, read from the real registry.
#include "windows/registry_lookup.h"

#include <gtest/gtest.h>

#include "registration/registration_test_support.h"

namespace host {
namespace {

using namespace test;

const std::string chrome_key = "HKCU\\Software\\Google\\Chrome\\NativeMessagingHosts\\com.velmorantix.browser_context";
const std::string manifest = "C:\\Users\\J\u00C9 Doe\\AppData\\Roaming\\com.velmorantix.lab\\com.velmorantix.browser_context.json";

class RegistryLookup : public ::testing::Test {
 protected:
  HostKeysGuard keys;
};

TEST_F(RegistryLookup, RefusesEveryOtherKeyPathBeforeReadingTheRegistry) {
  // The key exists and names the manifest, so a lookup that went to the
  // (case-insensitive) registry for any of these would answer Owned.
  set_default_string(chrome_release, widen(manifest));
  const std::string chrome = "HKCU\\Software\\Google\\Chrome\\NativeMessagingHosts\\";
  const std::string edge = "HKCU\\Software\\Microsoft\\Edge\\NativeMessagingHosts\\";
  const std::string release = "com.velmorantix.browser_context";
  const std::string refused[] = {
      "",
      "HKCU\\",
      chrome.substr(0, 48),
      chrome,
      edge,
      edge.substr(0, 49) + "/",
      chrome + release + "\\",
      chrome + release + ".dev\\",
      chrome + release + " ",
      chrome + release.substr(0, 30),
      chrome + release + ".devx",
      chrome + release + ".de",
      chrome + release + std::string(1, '\0'),
      chrome + "COM.VELMORANTIX.BROWSER_CONTEXT",
      chrome + "com.other.host",
      "hkcu\\Software\\Google\\Chrome\\NativeMessagingHosts\\" + release,
      "HKCU\\software\\google\\chrome\\nativemessaginghosts\\" + release,
      "HKEY_CURRENT_USER\\Software\\Google\\Chrome\\NativeMessagingHosts\\" + release,
      "HKLM\\Software\\Google\\Chrome\\NativeMessagingHosts\\" + release,
      "HKCU\\Software\\Google\\Chromium\\NativeMessagingHosts\\" + release,
      "HKCU\\Software\\Microsoft\\Edge\\NativeMessagingHosts\\\\" + release,
      "HKCU\\Software\\Google\\Chrome\\NativeMessagingHosts/" + release,
      "HKCU\\Software\\Google\\Chrome\\NativeMessagingHosts\\\\" + release,
  };
  for (const auto& key : refused) {
    auto owner = registration_ownership(key, manifest);
    ASSERT_FALSE(owner) << key;
    EXPECT_TRUE(owner.error().is(ErrorKind::InvalidInput, msg::unowned_registry_key)) << key;
  }
}

TEST_F(RegistryLookup, EachAcceptedPathReadsItsOwnKey) {
  const std::pair<std::string, std::wstring> keys[] = {
      {chrome_key, chrome_release},
      {chrome_key + ".dev", chrome_dev},
      {"HKCU\\Software\\Microsoft\\Edge\\NativeMessagingHosts\\com.velmorantix.browser_context", edge_release},
      {"HKCU\\Software\\Microsoft\\Edge\\NativeMessagingHosts\\com.velmorantix.browser_context.dev", edge_dev},
  };
  // Before any key exists, parents included, every one is absent.
  for (const auto& [key, subkey] : keys) EXPECT_EQ(registration_ownership(key, manifest), RegistrationOwnership::Absent);
  for (const auto& [key, subkey] : keys) set_default_string(subkey, widen(manifest + "|" + key));
  for (const auto& [key, subkey] : keys) {
    EXPECT_EQ(registration_ownership(key, manifest + "|" + key), RegistrationOwnership::Owned) << key;
    EXPECT_EQ(registration_ownership(key, manifest), RegistrationOwnership::Foreign) << key;
  }
}

struct StoredValue {
  const char* name;
  DWORD type;
  std::vector<unsigned char> bytes;  // exactly what is stored
  RegistrationOwnership expected;
};

std::vector<unsigned char> utf16_bytes(std::u16string_view units) {
  const auto* p = reinterpret_cast<const unsigned char*>(units.data());
  return std::vector<unsigned char>(p, p + units.size() * 2);
}

std::u16string utf16(const std::string& text) {
  const std::wstring w = widen(text);
  return std::u16string(w.begin(), w.end());
}

TEST_F(RegistryLookup, JudgesTheDefaultValue) {
  const std::u16string path = utf16(manifest);
  const std::u16string z(1, u'\0');
  std::u16string upper = path;
  for (auto& c : upper) {
    if (c >= u'a' && c <= u'z') c = char16_t(c - 32);
  }
  std::u16string lower = path;
  for (auto& c : lower) {
    if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
    if (c == u'\u00C9') c = u'\u00E9';
  }
  auto odd = utf16_bytes(path + z);
  odd.pop_back();
  const StoredValue cases[] = {
      {"the path with its terminator", REG_SZ, utf16_bytes(path + z), RegistrationOwnership::Owned},
      {"the path without a terminator", REG_SZ, utf16_bytes(path), RegistrationOwnership::Owned},
      {"other letter case, non-ASCII too", REG_SZ, utf16_bytes(lower + z), RegistrationOwnership::Owned},
      {"upper case", REG_SZ, utf16_bytes(upper + z), RegistrationOwnership::Owned},
      {"two terminating 0 units", REG_SZ, utf16_bytes(path + z + z), RegistrationOwnership::Foreign},
      {"a 0 inside", REG_SZ, utf16_bytes(path + z + u"x" + z), RegistrationOwnership::Foreign},
      {"another path", REG_SZ, utf16_bytes(u"C:\\other\\manifest.json" + z), RegistrationOwnership::Foreign},
      {"the path with more after it", REG_SZ, utf16_bytes(path + u"x" + z), RegistrationOwnership::Foreign},
      {"the path cut short", REG_SZ, utf16_bytes(path.substr(0, path.size() - 1) + z), RegistrationOwnership::Foreign},
      {"REG_EXPAND_SZ", REG_EXPAND_SZ, utf16_bytes(path + z), RegistrationOwnership::Foreign},
      {"REG_BINARY", REG_BINARY, utf16_bytes(path + z), RegistrationOwnership::Foreign},
      {"REG_MULTI_SZ", REG_MULTI_SZ, utf16_bytes(path + z + z), RegistrationOwnership::Foreign},
      {"REG_DWORD", REG_DWORD, {1, 0, 0, 0}, RegistrationOwnership::Foreign},
      {"empty REG_SZ", REG_SZ, {}, RegistrationOwnership::Foreign},
      {"odd size", REG_SZ, odd, RegistrationOwnership::Foreign},
      {"unpaired high surrogate", REG_SZ, utf16_bytes(path + u'\xD800' + z), RegistrationOwnership::Foreign},
      {"unpaired low surrogate", REG_SZ, utf16_bytes(u'\xDC00' + path + z), RegistrationOwnership::Foreign},
      {"replacement character where a surrogate was", REG_SZ, utf16_bytes(path + u'\xFFFD' + z),
       RegistrationOwnership::Foreign},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Wine stores a REG_SZ without its terminator only when the byte after
    // the data is not 0.
    std::vector<unsigned char> buffer = c.bytes;
    buffer.push_back(0xAA);
    buffer.push_back(0xAA);
    set_default_value(chrome_release, c.type, buffer.data(), DWORD(c.bytes.size()));
    EXPECT_EQ(registration_ownership(chrome_key, manifest), c.expected);
  }
}

TEST_F(RegistryLookup, PairedSurrogatesAreText) {
  const std::string with_emoji = manifest + "\xF0\x9F\x98\x80";
  set_default_string(chrome_release, widen(with_emoji));
  EXPECT_EQ(registration_ownership(chrome_key, with_emoji), RegistrationOwnership::Owned);
}

TEST_F(RegistryLookup, SizeLimitIs65536Bytes) {
  // 32767 units and the terminator fill 65536 bytes and are read; one unit
  // more is not looked at.
  const std::string longest = "C:\\" + std::string(32767 - 3, 'a');
  set_default_string(chrome_release, widen(longest));
  EXPECT_EQ(registration_ownership(chrome_key, longest), RegistrationOwnership::Owned);
  const std::string too_long = longest + "a";
  set_default_string(chrome_release, widen(too_long));
  EXPECT_EQ(registration_ownership(chrome_key, too_long), RegistrationOwnership::Foreign);
}

TEST_F(RegistryLookup, KeyWithoutADefaultValueIsAbsent) {
  win::UniqueHkey key;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, chrome_release.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.put(), nullptr),
            ERROR_SUCCESS);
  const std::wstring text = widen(manifest);
  ASSERT_EQ(::RegSetValueExW(key.get(), L"named", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             DWORD((text.size() + 1) * 2)),
            ERROR_SUCCESS);
  EXPECT_EQ(registration_ownership(chrome_key, manifest), RegistrationOwnership::Absent);
}

TEST_F(RegistryLookup, KeyThatCannotBeReadIsAnErrorNotAbsent) {
  set_default_string(chrome_release, widen(manifest));
  {
    KeyDaclOverride denied(chrome_release, deny_query_value);
    auto owner = registration_ownership(chrome_key, manifest);
    ASSERT_FALSE(owner);
    EXPECT_TRUE(owner.error().is_os(ERROR_ACCESS_DENIED)) << owner.error().message();
  }
  // The lookup changed nothing.
  EXPECT_EQ(default_string(chrome_release), widen(manifest));
}

}  // namespace
}  // namespace host
