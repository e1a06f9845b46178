// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/shell_link.h"

namespace {

// Header flags (LinkFlags) and sizes of the Shell Link format.
constexpr uint32_t kHasLinkInfo = 0x00000002;
constexpr uint32_t kHasName = 0x00000004;
constexpr uint32_t kHasWorkingDir = 0x00000010;
constexpr uint32_t kIsUnicode = 0x00000080;
constexpr uint32_t kHeaderSize = 0x4C;
constexpr uint32_t kLinkInfoHeaderSize = 0x24;  // with the Unicode path offsets
constexpr uint32_t kVolumeIdAndLocalBasePath = 0x1;
constexpr uint32_t kDriveFixed = 3;
constexpr uint32_t kFileAttributeArchive = 0x20;
constexpr uint32_t kFileAttributeDirectory = 0x10;
constexpr uint32_t kShowNormal = 1;
// FILETIME counts 100 ns steps since 1601-01-01; this many lie before 1970-01-01.
constexpr int64_t kFiletimeOf1970 = 116444736000000000;
// CLSID_ShellLink {00021401-0000-0000-C000-000000000046} as stored (first three fields
// little-endian).
constexpr uint8_t kShellLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                         0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr size_t kMaxCountedChars = 0xFFFF;  // StringData counts are 16-bit

void Put16(std::vector<uint8_t>* out, uint32_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>* out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void Put64(std::vector<uint8_t>* out, uint64_t v) {
  Put32(out, static_cast<uint32_t>(v));
  Put32(out, static_cast<uint32_t>(v >> 32));
}
void Set32(std::vector<uint8_t>* out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*out)[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// The ANSI form of a path for readers that do not look at the Unicode one: characters beyond
// Latin-1 become "?", as a code-page conversion would give them.
std::string AnsiOf(const std::u16string& wide) {
  std::string out;
  for (char16_t c : wide) out += c < 0x100 ? static_cast<char>(c) : '?';
  return out;
}

void PutCountedString(std::vector<uint8_t>* out, const std::u16string& s) {
  Put16(out, static_cast<uint32_t>(s.size()));
  for (char16_t c : s) Put16(out, c);
}

class HostShellLink : public ShellLink {
 public:
  explicit HostShellLink(HostFiles& files) : files_(files) {}

  HRESULT SetPath(const std::string& target) override {
    if (target.empty() || MultiByteToWideChar(target).size() > kMaxCountedChars) return E_INVALIDARG;
    target_ = target;
    return S_OK;
  }
  HRESULT SetDescription(const std::string& description) override {
    if (MultiByteToWideChar(description).size() > kMaxCountedChars) return E_INVALIDARG;
    description_ = description;
    return S_OK;
  }
  HRESULT SetWorkingDirectory(const std::string& directory) override {
    if (MultiByteToWideChar(directory).size() > kMaxCountedChars) return E_INVALIDARG;
    directory_ = directory;
    return S_OK;
  }
  HRESULT Save(const std::u16string& link_path, bool /*remember*/) override {
    FileStatus status;
    bool known = !target_.empty() && files_.GetFileStatus(target_, &status) == ERROR_SUCCESS;
    std::vector<uint8_t> bytes =
        BuildShellLinkFile(target_, description_, directory_, known ? &status : nullptr);
    LONG rc = files_.WriteFile(WideCharToUtf8(link_path),
                               std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    return HRESULT_FROM_WIN32(rc);
  }

 private:
  HostFiles& files_;
  std::string target_;
  std::string description_;
  std::string directory_;
};

}  // namespace

HRESULT HostShellLinkFactory::CreateShellLink(std::unique_ptr<ShellLink>* link) {
  *link = std::make_unique<HostShellLink>(files_);
  return S_OK;
}

std::vector<uint8_t> BuildShellLinkFile(const std::string& target, const std::string& description,
                                        const std::string& working_directory,
                                        const FileStatus* target_status) {
  const std::u16string wide_target = MultiByteToWideChar(target);
  const std::u16string wide_description = MultiByteToWideChar(description);
  const std::u16string wide_directory = MultiByteToWideChar(working_directory);

  uint32_t flags = kIsUnicode;
  if (!target.empty()) flags |= kHasLinkInfo;
  if (!description.empty()) flags |= kHasName;
  if (!working_directory.empty()) flags |= kHasWorkingDir;

  std::vector<uint8_t> out;
  // ShellLinkHeader
  Put32(&out, kHeaderSize);
  out.insert(out.end(), std::begin(kShellLinkClsid), std::end(kShellLinkClsid));
  Put32(&out, flags);
  uint64_t filetime = 0;
  uint32_t attributes = 0, size = 0;
  if (target_status != nullptr) {
    attributes = target_status->directory ? kFileAttributeDirectory : kFileAttributeArchive;
    size = target_status->size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(target_status->size);
    int64_t t = target_status->modified / 100 + kFiletimeOf1970;
    filetime = t > 0 ? static_cast<uint64_t>(t) : 0;
  }
  Put32(&out, attributes);
  Put64(&out, filetime);  // creation
  Put64(&out, filetime);  // access
  Put64(&out, filetime);  // write
  Put32(&out, size);
  Put32(&out, 0);  // icon index
  Put32(&out, kShowNormal);
  Put16(&out, 0);  // hot key
  Put16(&out, 0);  // reserved
  Put32(&out, 0);
  Put32(&out, 0);

  if ((flags & kHasLinkInfo) != 0) {
    const size_t start = out.size();
    const std::string ansi = AnsiOf(wide_target);
    const uint32_t volume_size = 16 + 1;  // header and an empty label
    const uint32_t volume_at = kLinkInfoHeaderSize;
    const uint32_t path_at = volume_at + volume_size;
    const uint32_t suffix_at = path_at + static_cast<uint32_t>(ansi.size()) + 1;
    const uint32_t wide_path_at = suffix_at + 1;
    const uint32_t wide_suffix_at = wide_path_at + 2 * static_cast<uint32_t>(wide_target.size() + 1);
    const uint32_t total = wide_suffix_at + 2;
    Put32(&out, total);
    Put32(&out, kLinkInfoHeaderSize);
    Put32(&out, kVolumeIdAndLocalBasePath);
    Put32(&out, volume_at);
    Put32(&out, path_at);
    Put32(&out, 0);  // no network location
    Put32(&out, suffix_at);
    Put32(&out, wide_path_at);
    Put32(&out, wide_suffix_at);
    // VolumeID
    Put32(&out, volume_size);
    Put32(&out, kDriveFixed);
    Put32(&out, 0x51564E31);  // drive serial number
    Put32(&out, 16);          // label offset
    out.push_back(0);         // empty label
    out.insert(out.end(), ansi.begin(), ansi.end());
    out.push_back(0);
    out.push_back(0);  // empty common path suffix
    for (char16_t c : wide_target) Put16(&out, c);
    Put16(&out, 0);
    Put16(&out, 0);
    Set32(&out, start, static_cast<uint32_t>(out.size() - start));
  }
  if ((flags & kHasName) != 0) PutCountedString(&out, wide_description);
  if ((flags & kHasWorkingDir) != 0) PutCountedString(&out, wide_directory);
  Put32(&out, 0);  // terminal block
  return out;
}

std::u16string MultiByteToWideChar(const std::string& text) {
  std::u16string out;
  size_t i = 0;
  while (i < text.size()) {
    auto b = static_cast<unsigned char>(text[i]);
    uint32_t cp = b;
    size_t len = 1;
    if (b >= 0xC2 && b <= 0xF4) {
      size_t need = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
      uint32_t v = b & (0x3F >> need);
      bool ok = true;
      for (size_t k = 1; ok && k <= need; ++k) {
        if (i + k >= text.size()) {
          ok = false;
          break;
        }
        auto c = static_cast<unsigned char>(text[i + k]);
        if ((c & 0xC0) != 0x80) ok = false;
        v = (v << 6) | (c & 0x3F);
      }
      // Reject overlong forms, surrogates and values beyond Unicode.
      if (ok && ((need == 2 && v < 0x800) || (need == 3 && (v < 0x10000 || v > 0x10FFFF)) ||
                 (v >= 0xD800 && v <= 0xDFFF))) {
        ok = false;
      }
      if (ok) {
        cp = v;
        len = need + 1;
      }
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += len;
  }
  return out;
}

std::string WideCharToUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}
