#include "settings/ClientSettings.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <limits>
#include <optional>
#include <utility>

#include "platform/Error.h"
#include "platform/Prefix.h"
#include "settings/IniStore.h"
#include "settings/PortNumber.h"
#include "text/TextCase.h"

namespace tandor {

namespace {

constexpr const char* kError = "?Error";
constexpr const char* kSection = "Tandor";
constexpr const char* kCurrentVersionKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr const char* kDataAccessKey = "Software\\Microsoft\\DataAccess";
// A registry value is queried into a 512-byte buffer: a longer value fails the query.
constexpr std::size_t kRegistryBufferBytes = 512;

std::optional<std::string> ReadFolderValue(const Prefix& prefix, const char* key,
                                           const char* name) {
  std::optional<std::string> value = prefix.ReadRegistryValue(key, name);
  if (value && value->size() + 1 > kRegistryBufferBytes) return std::nullopt;
  return value;
}

std::string SettingsFile(const std::string& appFolder) {
  return appFolder + "\\Tandor.ini";
}

constexpr std::pair<std::string_view, TransferMethod> kMethods[] = {
    {"FTP", TransferMethod::Ftp},
    {"FTPS", TransferMethod::Ftps},
    {"HTTP", TransferMethod::Http},
    {"HTTPS", TransferMethod::Https}};

// The port a method uses when Tandor.ini names none; empty for a method the pass cannot use.
std::string DefaultPort(TransferMethod method) {
  switch (method) {
    case TransferMethod::Ftp:
    case TransferMethod::Ftps:
      return "21";
    case TransferMethod::Http:
      return "80";
    case TransferMethod::Https:
      return "443";
    case TransferMethod::Unknown:
      break;
  }
  return "";
}

std::optional<int> ReadPort(std::string_view text) {
  try {
    return ParsePort(text);
  } catch (const RuntimeError&) {
    return std::nullopt;
  }
}

// "host", "host:port", "[v6]" or "[v6]:port". More than one ':' without brackets is an IPv6
// address without a port of its own.
ServerAddress ReadServer(std::string_view text, const ClientSettings& settings) {
  ServerAddress server{std::string(text), std::string(text), settings.PortText, settings.Port};
  std::size_t colon = std::string_view::npos;
  if (text.starts_with('[')) {
    const std::size_t close = text.find(']');
    if (close != std::string_view::npos && text.substr(close + 1).starts_with(':'))
      colon = close + 1;
  } else if (text.find(':') == text.rfind(':')) {
    colon = text.find(':');
  }
  if (colon == std::string_view::npos) return server;
  server.Host = text.substr(0, colon);
  server.PortText = text.substr(colon + 1);
  server.Port = ReadPort(server.PortText);
  return server;
}

}  // namespace

TransferMethod ParseMethod(std::string_view text) {
  return NamedValue(text, kMethods, TransferMethod::Unknown);
}

void ClientSettings::SetMethod(std::string text) {
  MethodText = std::move(text);
  Method = ParseMethod(MethodText);
  Tls = Method == TransferMethod::Ftps || Method == TransferMethod::Https;
}

void ClientSettings::SetPort(std::string text) {
  PortText = std::move(text);
  Port = ReadPort(PortText);
}

void ClientSettings::SetMaxKBps(std::string text) {
  MaxKBpsText = std::move(text);
  MaxBytesPerSecond = 0;
  MaxKBpsIgnored = false;
  const std::string_view digits = Trim(MaxKBpsText);
  if (digits.empty()) return;
  const char* const last = digits.data() + digits.size();
  std::int64_t kibibytes = 0;
  const auto [end, error] = std::from_chars(digits.data(), last, kibibytes);
  // A count of KiB whose bytes do not fit is no number either.
  if (error != std::errc() || end != last || kibibytes < 0 ||
      kibibytes > std::numeric_limits<std::int64_t>::max() / 1024) {
    MaxKBpsIgnored = true;
    return;
  }
  MaxBytesPerSecond = kibibytes * 1024;
}

std::vector<ServerAddress> ClientSettings::Servers() const {
  std::vector<ServerAddress> servers;
  for (const std::string_view item : SplitItems(Address, ';')) {
    servers.push_back(ReadServer(item, *this));
  }
  return servers;
}

void ClientSettings::SetConnections(std::string text) {
  ConnectionsText = std::move(text);
  int count = 0;
  const char* end = ConnectionsText.data() + ConnectionsText.size();
  const auto [stop, error] = std::from_chars(ConnectionsText.data(), end, count);
  Connections = error == std::errc() && stop == end && count >= 1
                    ? std::min(count, kMostConnections)
                    : kDefaultConnections;
}

std::string ReadIniString(IniStore& ini, const Prefix& prefix, const std::string& section,
                          const std::string& key, const std::string& file) {
  return ini.Read(section, key, prefix.ToNative(file));
}

ClientSettings LoadSettings(const Prefix& prefix, IniStore& ini, const std::string& appFolder,
                            bool consume) {
  ClientSettings s;
  s.WinPath = prefix.WindowsFolder();
  s.SystemDrive = s.WinPath.substr(0, 2);
  s.WinSysPath = prefix.SystemFolder();

  s.ProgramFiles = ReadFolderValue(prefix, kCurrentVersionKey, "ProgramFilesDir").value_or(kError);
  if (auto common = ReadFolderValue(prefix, kCurrentVersionKey, "CommonFilesDir")) {
    s.CommonFiles = *common;
    s.CommonFilesSys = *common + "\\System";
  } else {
    s.CommonFiles = kError;
  }
  s.DataAccessVersion = ReadFolderValue(prefix, kDataAccessKey, "Version").value_or(kError);

  const std::string file = SettingsFile(appFolder);
  std::string method = ReadIniString(ini, prefix, kSection, "Method", file);
  s.Address = ReadIniString(ini, prefix, kSection, "Address", file);
  std::string port = ReadIniString(ini, prefix, kSection, "Port", file);
  s.User = ReadIniString(ini, prefix, kSection, "User", file);
  s.Password = ReadIniString(ini, prefix, kSection, "Password", file);
  s.Root = ReadIniString(ini, prefix, kSection, "Root", file);
  s.Passive = std::atoi(ReadIniString(ini, prefix, kSection, "Passive", file).c_str()) != 0;
  s.CaFile = ReadIniString(ini, prefix, kSection, "CAFile", file);
  s.SetConnections(ReadIniString(ini, prefix, kSection, "Connections", file));
  s.Proxy = ReadIniString(ini, prefix, kSection, "Proxy", file);
  s.SetMaxKBps(ReadIniString(ini, prefix, kSection, "MaxKBps", file));

  s.SetMethod(method.empty() ? "FTP" : std::move(method));
  if (s.Address.empty()) s.Address = TANDOR_DEFAULT_ADDRESS;
  s.SetPort(port.empty() ? DefaultPort(s.Method) : std::move(port));
  if (s.User.empty()) s.User = "Version";
  if (s.Password.empty()) s.Password = "palu4826";
  if (s.Root.empty()) s.Root = "/Harrowin";

  if (consume) {
    ini.Write(kSection,
              {{"Address", ""}, {"Port", ""}, {"User", ""}, {"Password", ""}, {"Root", ""}},
              prefix.ToNative(file));
  }
  return s;
}

void HandOverSettings(const Prefix& prefix, IniStore& ini, const std::string& folder,
                      const ClientSettings& settings) {
  ini.Write(kSection,
            {{"Method", settings.MethodText},
             {"Address", settings.Address},
             {"Port", settings.PortText},
             {"User", settings.User},
             {"Password", settings.Password},
             {"Root", settings.Root},
             {"CAFile", settings.CaFile},
             {"Proxy", settings.Proxy},
             {"Passive", settings.Passive ? "1" : "0"},
             {"Connections", settings.ConnectionsText},
             {"MaxKBps", settings.MaxKBpsText}},
            prefix.ToNative(SettingsFile(folder)));
}

}  // namespace tandor
