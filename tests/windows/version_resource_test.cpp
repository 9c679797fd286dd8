// The release executable's version resource and application manifest, read
// back from the built host with the calls an installer, Explorer and the
// loader use.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/child_process.h"

namespace {

std::wstring hex4(WORD value) {
  std::wstring text;
  for (int shift = 12; shift >= 0; shift -= 4) text += L"0123456789abcdef"[(value >> shift) & 0xF];
  return text;
}

std::wstring host_path() { return host::tools::program_directory() + L"\\browser-context-host.exe"; }

class VersionResource : public ::testing::Test {
 protected:
  void SetUp() override {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path_.c_str(), &ignored);
    ASSERT_NE(size, 0u) << "no version resource in the host, error " << ::GetLastError();
    block_.resize(size);
    ASSERT_TRUE(::GetFileVersionInfoW(path_.c_str(), 0, size, block_.data())) << ::GetLastError();
  }

  // A value of the block, or nullopt when VerQueryValueW finds none.
  template <typename T>
  std::optional<std::pair<const T*, UINT>> query(const std::wstring& sub_block) {
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block_.data(), sub_block.c_str(), &value, &length) || value == nullptr) return std::nullopt;
    return std::pair{static_cast<const T*>(value), length};
  }

  // A string of the string table that the block's first translation names,
  // the way Explorer's properties page finds it.
  std::optional<std::wstring> string_value(const wchar_t* name) {
    const auto translation = query<WORD>(L"\\VarFileInfo\\Translation");
    if (!translation || translation->second < 2 * sizeof(WORD)) return std::nullopt;
    const auto text =
        query<wchar_t>(L"\\StringFileInfo\\" + hex4(translation->first[0]) + hex4(translation->first[1]) + L"\\" + name);
    if (!text) return std::nullopt;
    // The length counts the terminating 0 where there is one.
    std::wstring value(text->first, text->second);
    while (!value.empty() && value.back() == L'\0') value.pop_back();
    return value;
  }

 private:
  std::wstring path_ = host_path();
  std::vector<unsigned char> block_;
};

TEST_F(VersionResource, FixedPartCarriesTheProjectVersionOfAReleaseApplication) {
  const auto fixed = query<VS_FIXEDFILEINFO>(L"\\");
  ASSERT_TRUE(fixed);
  ASSERT_GE(fixed->second, sizeof(VS_FIXEDFILEINFO));
  const VS_FIXEDFILEINFO& info = *fixed->first;
  EXPECT_EQ(info.dwSignature, 0xFEEF04BDu);
  const DWORD ms = MAKELONG(HOST_VERSION_MINOR, HOST_VERSION_MAJOR);
  const DWORD ls = MAKELONG(0, HOST_VERSION_PATCH);
  EXPECT_EQ(info.dwFileVersionMS, ms);
  EXPECT_EQ(info.dwFileVersionLS, ls);
  EXPECT_EQ(info.dwProductVersionMS, ms);
  EXPECT_EQ(info.dwProductVersionLS, ls);
  EXPECT_EQ(info.dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(info.dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
  EXPECT_EQ(info.dwFileFlags & info.dwFileFlagsMask, 0u) << "marked debug, pre-release or patched";
}

TEST_F(VersionResource, StringTableNamesTheMakerProductAndFile) {
  const struct {
    const wchar_t* name;
    std::wstring expected;
  } cases[] = {
      {L"CompanyName", L"Velmorantix"},
      {L"ProductName", L"Velmorantix"},
      {L"FileDescription", L"Velmorantix browser native messaging host"},
      {L"FileVersion", HOST_VERSION_TEXT},
      {L"ProductVersion", HOST_VERSION_TEXT},
      {L"OriginalFilename", L"browser-context-host.exe"},
      {L"InternalName", L"browser-context-host"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "value " << std::string(c.name, c.name + std::wcslen(c.name)));
    const auto value = string_value(c.name);
    ASSERT_TRUE(value);
    EXPECT_TRUE(*value == c.expected);
  }
}

// The manifest is read the way the loader reads it when the host starts: as
// the activation context of the executable's resource 1.
struct ActivationContextRelease {
  void operator()(HANDLE context) const { ::ReleaseActCtx(context); }
};
using UniqueActivationContext = std::unique_ptr<void, ActivationContextRelease>;

UniqueActivationContext host_activation_context(const std::wstring& path) {
  ACTCTXW request{};
  request.cbSize = sizeof(request);
  request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  request.lpSource = path.c_str();
  request.lpResourceName = MAKEINTRESOURCEW(1);
  HANDLE context = ::CreateActCtxW(&request);
  if (context == INVALID_HANDLE_VALUE) return nullptr;
  return UniqueActivationContext(context);
}

// The query's answer in a buffer of the size it asks for.
std::vector<std::byte> query_activation_context(HANDLE context, ULONG what) {
  SIZE_T needed = 0;
  ::QueryActCtxW(0, context, nullptr, what, nullptr, 0, &needed);
  std::vector<std::byte> answer(needed);
  if (needed == 0 || !::QueryActCtxW(0, context, nullptr, what, answer.data(), answer.size(), &needed)) return {};
  answer.resize(needed);
  return answer;
}

TEST(ApplicationManifest, AsksForTheCallersRightsWithoutUiAccess) {
  const auto context = host_activation_context(host_path());
  ASSERT_TRUE(context) << "the host's manifest is missing or malformed, error " << ::GetLastError();
  const auto answer = query_activation_context(context.get(), RunlevelInformationInActivationContext);
  ASSERT_GE(answer.size(), sizeof(ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION));
  ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION run_level;
  std::memcpy(&run_level, answer.data(), sizeof(run_level));
  EXPECT_EQ(run_level.RunLevel, ACTCTX_RUN_LEVEL_AS_INVOKER);
  EXPECT_EQ(run_level.UiAccess, 0u);
}

TEST(ApplicationManifest, DeclaresWindows10And11AsItsOnlySupportedSystems) {
  const auto context = host_activation_context(host_path());
  ASSERT_TRUE(context) << "the host's manifest is missing or malformed, error " << ::GetLastError();
  const auto answer = query_activation_context(context.get(), CompatibilityInformationInActivationContext);
  // The element count, then the elements. Newer systems append a field to
  // each element; the GUID and the type come first in every version.
  ASSERT_GE(answer.size(), sizeof(DWORD));
  DWORD count = 0;
  std::memcpy(&count, answer.data(), sizeof(count));
  ASSERT_EQ(count, 1u) << "exactly one supportedOS element";
  // Elements with the appended 64-bit field are 32 bytes and 8-aligned, so
  // the first one starts at 8; without it they are 20 bytes and start at 4.
  const std::size_t first = answer.size() == sizeof(DWORD) + count * sizeof(COMPATIBILITY_CONTEXT_ELEMENT)
                                ? sizeof(DWORD)
                                : sizeof(ULONGLONG);
  ASSERT_GE(answer.size(), first + sizeof(COMPATIBILITY_CONTEXT_ELEMENT));
  COMPATIBILITY_CONTEXT_ELEMENT element;
  std::memcpy(&element, answer.data() + first, sizeof(element));
  // {8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}: Windows 10 and Windows 11.
  const GUID windows_10 = {0x8e0f7a12, 0xbfb3, 0x4fe8, {0xb9, 0xa5, 0x48, 0xfd, 0x50, 0xa1, 0x5a, 0x9a}};
  EXPECT_TRUE(IsEqualGUID(element.Id, windows_10));
  EXPECT_EQ(element.Type, ACTCTX_COMPATIBILITY_ELEMENT_TYPE_OS);
}

}  // namespace
