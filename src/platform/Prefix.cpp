#include "platform/Prefix.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/Error.h"
#include "platform/FileIo.h"
#include "text/TextCase.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kMachineKey = "HKEY_LOCAL_MACHINE\\";

// Registry lines may keep a CR of a CR LF line end.
std::string_view TrimLine(std::string_view text) {
  return Trim(text, " \t\r");
}

std::string FullKey(std::string_view key) {
  std::string full(key);
  if (LowerAscii(full).rfind(LowerAscii(kMachineKey), 0) != 0)
    full = std::string(kMachineKey) + full;
  return full;
}

// The registry file is always UTF-8: it is ours, and it holds the code page itself.
struct RegistryLine {
  std::string text;
};

std::vector<std::string> ReadLines(const fs::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool IsDriveLetter(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

Prefix::Prefix(fs::path root) : mRoot(std::move(root)), mNormalRoot(mRoot.lexically_normal()) {}

fs::path Prefix::DefaultRoot() {
  if (const char* prefix = std::getenv("TANDOR_PREFIX"); prefix && *prefix) return prefix;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
    return fs::path(data) / "tandor";
  const char* home = std::getenv("HOME");
  return fs::path(home && *home ? home : "/tmp") / ".local" / "share" / "tandor";
}

Prefix Prefix::Open(const fs::path& given) {
  std::error_code ec;
  // Paths of running programs come back canonical; the root must compare equal to them.
  fs::path root = fs::weakly_canonical(fs::absolute(given, ec), ec);
  if (root.empty()) root = given;
  Prefix prefix(root);
  for (const char* folder : {"drive_c/Windows/System32", "drive_c/Program Files/Common Files"}) {
    fs::create_directories(root / folder, ec);
    if (ec && prefix.mCreateError.empty())
      prefix.mCreateError = (root / folder).string() + ": " + ec.message();
  }
  if (!fs::exists(prefix.RegistryFile(), ec)) {
    std::string text =
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\r\n"
        "ProgramFilesDir=C:\\Program Files\r\n"
        "CommonFilesDir=C:\\Program Files\\Common Files\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage]\r\n"
        "ACP=65001\r\n";
    if (!WriteFileAtomically(prefix.RegistryFile(), text) && prefix.mCreateError.empty())
      prefix.mCreateError = prefix.RegistryFile().string() + ": " + ErrnoText(errno);
  }
  return prefix;
}

fs::path Prefix::ToNative(std::string_view path) const {
  // A native folder outside the prefix still gets Windows-style joins ("\\Tandor.ini").
  if (!path.empty() && path.front() == '/') {
    std::string native(path);
    for (char& c : native)
      if (c == '\\') c = '/';
    return fs::path(native).lexically_normal();
  }
  char drive = 0;
  std::string_view rest = path;
  if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == ':') {
    drive = path[0];
    rest = path.substr(2);
  } else if (!path.empty() && path.front() == '\\') {
    drive = 'c';  // rooted without a drive: the system drive
  }
  if (drive == 0) {
    std::string relative(path);
    for (char& c : relative)
      if (c == '\\') c = '/';
    return fs::path(relative);
  }
  // As Windows resolves a path: "." stays, ".." goes one folder up but never above the
  // drive's root, and '/' separates as '\\' does.
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t stop = rest.find_first_of("\\/", start);
    if (stop == std::string_view::npos) stop = rest.size();
    std::string_view part = rest.substr(start, stop - start);
    start = stop + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  fs::path native = mRoot / (std::string("drive_") + LowerAscii(drive));
  for (std::string_view part : parts) native /= part;
  return native;
}

bool Prefix::HoldsPath(const fs::path& native) const {
  if (!native.is_absolute()) return false;
  const fs::path normal = native.lexically_normal();
  const fs::path relative = normal.lexically_relative(mNormalRoot);
  if (relative.empty() || *relative.begin() == "..") return false;
  const std::string drive = relative.begin()->string();
  return drive.size() == 7 && drive.rfind("drive_", 0) == 0 && IsDriveLetter(drive[6]);
}

std::string Prefix::ToWindows(const fs::path& native) const {
  fs::path normal = native.lexically_normal();
  fs::path relative = normal.lexically_relative(mNormalRoot);
  if (relative.empty() || *relative.begin() == "..") return native.string();
  auto it = relative.begin();
  std::string drive = it->string();
  if (drive.size() != 7 || drive.rfind("drive_", 0) != 0 || !IsDriveLetter(drive[6]))
    return native.string();
  std::string out;
  out += UpperAscii(drive[6]);
  out += ':';
  bool any = false;
  for (++it; it != relative.end(); ++it) {
    if (it->empty() || *it == ".") continue;
    out += '\\';
    out += it->string();
    any = true;
  }
  if (!any) out += '\\';
  return out;
}

std::optional<std::string> Prefix::ReadRegistryValue(std::string_view key,
                                                     std::string_view name) const {
  const std::string wantedName = LowerAscii(name);
  for (auto& [found, value] : ReadRegistryValues(key)) {
    if (LowerAscii(found) == wantedName) return std::move(value);
  }
  return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> Prefix::ReadRegistryValues(
    std::string_view key) const {
  std::vector<std::pair<std::string, std::string>> values;
  std::error_code ec;
  if (!fs::is_regular_file(RegistryFile(), ec)) return values;
  const std::string wantedSection = LowerAscii(FullKey(key));
  bool inSection = false;
  for (const std::string& raw : ReadLines(RegistryFile())) {
    std::string_view line = TrimLine(raw);
    if (!line.empty() && line.front() == '[') {
      std::size_t close = line.find(']');
      std::string_view section =
          line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1);
      inSection = LowerAscii(TrimLine(section)) == wantedSection;
      continue;
    }
    if (!inSection) continue;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    values.emplace_back(TrimLine(line.substr(0, eq)), TrimLine(line.substr(eq + 1)));
  }
  return values;
}

void Prefix::WriteRegistryValue(std::string_view key, std::string_view name,
                                std::string_view value) const {
  std::vector<std::string> lines = ReadLines(RegistryFile());
  const std::string wantedSection = LowerAscii(FullKey(key));
  const std::string wantedName = LowerAscii(name);
  const std::string newLine = std::string(name) + "=" + std::string(value);
  bool inSection = false;
  bool found = false;
  std::size_t insertAt = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = TrimLine(lines[i]);
    if (!line.empty() && line.front() == '[') {
      if (inSection) break;
      std::size_t close = line.find(']');
      inSection =
          LowerAscii(TrimLine(line.substr(
              1, close == std::string_view::npos ? line.size() - 1 : close - 1))) == wantedSection;
      if (inSection) insertAt = i + 1;
      continue;
    }
    if (!inSection) continue;
    std::size_t eq = line.find('=');
    if (eq != std::string_view::npos) {
      insertAt = i + 1;
      if (LowerAscii(TrimLine(line.substr(0, eq))) == wantedName) {
        lines[i] = newLine;
        found = true;
        break;
      }
    }
  }
  if (!found) {
    if (insertAt == lines.size() && !inSection) {
      lines.push_back("[" + FullKey(key) + "]");
      lines.push_back(newLine);
    } else {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), newLine);
    }
  }
  std::ostringstream text;
  for (const std::string& line : lines) text << line << "\r\n";
  WriteFileAtomically(RegistryFile(), text.str());
}

CodePage Prefix::AnsiCodePage() const {
  auto value = ReadRegistryValue("SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP");
  if (!value || value->empty()) return CodePage();
  char* end = nullptr;
  long number = std::strtol(value->c_str(), &end, 10);
  if (*end != '\0' || number <= 0 || number > 65535) return CodePage();
  return CodePage(static_cast<int>(number));
}

}  // namespace tandor
