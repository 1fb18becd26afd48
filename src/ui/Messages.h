#pragma once
// The program's own texts, in one place: what the update pass and the program's roles show and
// log. The tests read them from here too.

#include <cstdint>
#include <string>
#include <string_view>

namespace tandor::msg {

// The title of the program's message boxes.
inline constexpr const char* kApplicationTitle = "Tandor";

// The update pass's list and log lines.
inline std::string Connecting(const std::string& product, const std::string& method) {
  return "Upgrade " + product + " by " + method;
}
inline std::string ConnectionFailed(const std::string& method, const std::string& address) {
  return method + "://" + address + "에 연결 중 에러가 발생하였습니다.";
}
// `answer`: the proxy's own status line, such as "407 Proxy Authentication Required".
inline std::string ProxyRefused(const std::string& answer) {
  return "프록시 서버가 연결을 거부했습니다: " + answer;
}
// With several servers in Address=: one that could not be used, and the one that serves.
inline std::string ServerUnusable(const std::string& address, const std::string& reason) {
  return "업데이트 서버 " + address + "에서 업데이트 목록을 받지 못했습니다: " + reason;
}
inline std::string ServerInUse(const std::string& address) {
  return "업데이트 서버: " + address;
}
inline std::string NotAPort(const std::string& port) {
  return "포트 " + port + " 은(는) 1에서 65535 사이의 숫자가 아닙니다.";
}
inline std::string MaxKBpsIgnored(const std::string& text) {
  return "Tandor.ini의 MaxKBps=" + text +
         " 은(는) 숫자가 아니어서 다운로드 속도를 제한하지 않습니다.";
}
inline std::string UnknownMethod(const std::string& method) {
  return "Tandor.ini의 Method=" + method +
         " 은(는) 알 수 없는 접속 방식입니다. FTP, FTPS, HTTP 또는 HTTPS를 사용하십시오.";
}
inline std::string NotAManifest(const std::string& remote) {
  return remote + " 은(는) 업데이트 목록이 아닙니다: [Files]도 [File1]도 없습니다.";
}
inline std::string ManifestNotStored(const std::string& remote, const std::string& reason) {
  return remote + " 을(를) 이 컴퓨터에 저장하지 못해 업데이트할 수 없습니다: " + reason;
}
inline std::string OutsideTheMachine(const std::string& target) {
  return target + " 은(는) 설치할 수 있는 폴더 밖에 있어 설치하지 않습니다.";
}
inline std::string WaitingForLauncher(const std::string& launcher) {
  return launcher + " 이(가) 끝나기를 기다리는 중";
}
inline std::string LauncherStillRuns(const std::string& launcher, long long seconds) {
  return launcher + " 이(가) " + std::to_string(seconds) +
         "초가 지나도 끝나지 않아 기다리지 않고 업데이트합니다. 업데이트 프로그램은 이번에 바꾸지 "
         "않습니다.";
}
inline std::string UpdaterNotReplaced(const std::string& updater) {
  return updater + " 이(가) 아직 실행 중이어서 바꾸지 않았습니다. 다음 업데이트에서 바꿉니다.";
}
inline std::string DownloadCount(long count) {
  return std::to_string(count) + "개의 파일을 다운로드 합니다.";
}
inline std::string Downloading(const std::string& file) {
  return file + " 파일 다운로드 중";
}
inline std::string Downloaded(const std::string& file, const std::string& seconds) {
  return file + " 파일 다운로드 완료 (" + seconds + ")";
}
// Downloads ahead given up for the entry whose turn it is.
inline std::string NoRoomAhead(const std::string& file) {
  return file +
         " 을(를) 받을 디스크 공간이 부족하여 미리 받은 파일을 지우고 나머지는 하나씩 "
         "받습니다.";
}
inline std::string ServerBusyAhead(const std::string& file, const std::string& answer) {
  return "서버가 " + file + " 요청을 거절하여(" + answer +
         ") 미리 받기를 멈추고 나머지는 하나씩 받습니다.";
}
// A patch the pass could not use: the whole file comes instead.
inline std::string PatchUnusable(const std::string& patch, const std::string& reason) {
  return "패치 " + patch + "을(를) 쓸 수 없어 전체 파일을 받습니다: " + reason;
}
inline std::string PatchResultWrong(const std::string& made) {
  return "패치로 만든 파일의 SHA-256 " + made + " 이(가) SHA256= 와 다릅니다";
}
// `keyAndValue`: "Delta2=..." as the manifest writes it.
inline std::string DeltaIgnored(const std::string& keyAndValue) {
  return keyAndValue +
         " 은(는) '<이전 파일의 SHA-256>,<패치 파일 이름>' 형식이 아니어서 무시합니다.";
}
inline std::string Extracting(const std::string& file) {
  return file + " 파일 압축을 푸는 중";
}
inline std::string LinkLeadsOut(const std::string& link) {
  return "압축 파일의 링크 " + link + " 은(는) 압축을 푸는 폴더 밖을 가리켜 만들지 않았습니다";
}
inline std::string Extracted(const std::string& file) {
  return file + " 파일 압축풀기 완료";
}
inline std::string ExtractionFailed(const std::string& file) {
  return file + "의 압축풀기 실패";
}
inline std::string Starting(const std::string& file) {
  return file + "을 실행";
}
inline std::string WaitingFor(const std::string& file) {
  return file + "이 종료될때 까지 기다리는 중";
}
inline std::string Ended(const std::string& file) {
  return file + "종료";
}
inline std::string NoFinalProgram(const std::string& executeText) {
  return "Error:[Files] Execute=" + executeText +
         " 에 해당하는 항목이 없어 프로그램을 시작하지 않습니다.";
}

// Staged rollouts: which manifest the machine took, by its bucket and the manifest's Rollout=.
inline std::string RolloutTaken(const std::string& manifest, int bucket, int percent) {
  return "배포 대상: " + manifest + " (구간 " + std::to_string(bucket) + " < " +
         std::to_string(percent) + ")";
}
inline std::string RolloutFallback(const std::string& fallback, int bucket, int percent) {
  return "배포 대상: " + fallback + " (구간 " + std::to_string(bucket) +
         " >= " + std::to_string(percent) + ")";
}
inline std::string RolloutOutside(const std::string& manifest, int bucket, int percent) {
  return "배포 대상 아님: " + manifest + " (구간 " + std::to_string(bucket) +
         " >= " + std::to_string(percent) + "). Fallback= 이(가) 없어 이번에는 설치하지 않습니다.";
}
inline std::string RolloutNotAPercent(const std::string& remote, const std::string& text) {
  return remote + " 의 Rollout=" + text +
         " 은(는) 0에서 100 사이의 숫자가 아니어서 업데이트 목록을 쓰지 않습니다.";
}
inline std::string FallbackNotTheNamedOne(const std::string& remote, const std::string& digits) {
  return remote + " 의 SHA-256 이(가) 이름에 적힌 " + digits +
         " (으)로 시작하지 않아 업데이트 목록을 쓰지 않습니다.";
}
inline std::string FallbackNotAName(const std::string& remote, const std::string& name) {
  return remote + " 의 Fallback=" + name +
         " 은(는) 같은 서버 폴더의 다른 파일 이름이 아니어서 업데이트 목록을 쓰지 않습니다.";
}
inline std::string VerifyNotSeconds(const std::string& remote, const std::string& text) {
  return remote + " 의 Verify=" + text +
         " 은(는) 0에서 3600 사이의 초가 아니어서 업데이트 목록을 쓰지 않습니다.";
}
// Releases that are watched and taken back. `release` reads "Serial=8" or "SHA256=<digest>".
inline std::string ReleaseRefused(const std::string& release) {
  return release +
         " 업데이트는 이 컴퓨터에서 실패하여 되돌린 것이므로 설치하지 않습니다. 더 새로운 "
         "업데이트를 기다립니다.";
}
inline std::string Verifying(const std::string& program, int seconds) {
  return program + " 이(가) " + std::to_string(seconds) +
         "초 동안 정상적으로 실행되는지 확인하는 중";
}
inline std::string FinalProgramFailed(const std::string& program, int code) {
  return program + " 이(가) 종료 코드 " + std::to_string(code) + "(으)로 끝났습니다";
}
inline std::string FinalProgramNotStarted(const std::string& program) {
  return program + " 을(를) 시작하지 못했습니다";
}
inline std::string ReleaseRolledBack(const std::string& reason, const std::string& release) {
  return reason + ": " + release +
         " 업데이트로 바꾼 파일을 이전 것으로 되돌렸습니다. 이 업데이트는 다시 설치하지 않습니다.";
}
inline std::string ReleaseUndone(const std::string& release) {
  return release + " 업데이트를 모두 설치하지 못해 이번에 바꾼 파일을 이전 것으로 되돌렸습니다.";
}
inline std::string UnfinishedReleaseUndone(const std::string& release) {
  return "지난 " + release + " 업데이트가 설치 중에 중단되어 이전 파일로 되돌렸습니다.";
}
inline std::string UnfinishedRollbackDone(const std::string& release) {
  return "지난 " + release +
         " 업데이트의 되돌리기가 중단되어 마저 되돌렸습니다. 이 업데이트는 다시 설치하지 않습니다.";
}
inline std::string ReleaseNotPutBack(const std::string& release, const std::string& problem) {
  return release + " 업데이트로 바꾼 파일을 되돌리지 못했습니다 (" + problem +
         "). 다음 업데이트에서 다시 되돌립니다.";
}

// A signed manifest that is not trusted.
inline std::string BadManifestKey(const std::string& key) {
  return "ManifestKey=" + key +
         " 은(는) 올바른 공개 키가 아닙니다. 업데이트 목록을 확인할 수 없습니다.";
}
inline std::string ManifestUnsigned(const std::string& remote) {
  return remote + ".sig 이(가) 없어 서명되지 않은 업데이트 목록을 설치하지 않습니다.";
}
inline std::string ManifestSignatureWrong(const std::string& remote) {
  return remote + " 의 서명이 올바르지 않아 설치하지 않습니다.";
}
inline std::string ManifestTooLarge(const std::string& remote, std::int64_t mebibytes) {
  return remote + " 이(가) " + std::to_string(mebibytes) +
         " MiB보다 커서 업데이트 목록으로 받지 않습니다.";
}
inline std::string SignatureTooLarge(const std::string& remote, std::int64_t kibibytes) {
  return remote + ".sig 이(가) " + std::to_string(kibibytes) +
         " KiB보다 커서 서명으로 받지 않습니다.";
}
inline std::string ManifestRolledBack(const std::string& remote, const std::string& serial,
                                      long long accepted) {
  return remote + " 의 Serial=" + serial + " 이(가) 이미 받은 " + std::to_string(accepted) +
         " 보다 낮아 이전 업데이트 목록을 설치하지 않습니다.";
}
inline std::string ManifestForAnotherProduct(const std::string& remote, const std::string& named,
                                             const std::string& product) {
  if (named.empty())
    return remote + " 의 [Files]에 Product= 이(가) 없어 " + product +
           " 의 업데이트 목록인지 알 수 없으므로 설치하지 않습니다.";
  return remote + " 은(는) " + named + " 의 업데이트 목록이어서 " + product +
         " 에 설치하지 않습니다.";
}

inline std::string ManifestSignedByUnknownKey(const std::string& remote, const std::string& key) {
  return remote + " 은(는) 이 컴퓨터가 아직 신뢰하지 않는 키 " + key +
         " (으)로 서명되어 설치하지 않습니다. 이 키를 알리는 업데이트 목록(NextKey=)을 받지 "
         "못했습니다: 이 컴퓨터가 신뢰하는 키로도 서명된 목록을 받으면 새 키를 신뢰합니다.";
}
inline std::string ManifestSignedByRevokedKey(const std::string& remote, const std::string& key) {
  return remote + " 은(는) 폐기된 키 " + key + " (으)로 서명되어 설치하지 않습니다.";
}
inline std::string ManifestClaimUnreadable(const std::string& remote, std::string_view key,
                                           const std::string& value) {
  return remote + " 의 " + std::string(key) + "=" + value +
         " 을(를) 읽을 수 없어 설치하지 않습니다 (시각은 2027-01-31T00:00:00Z 처럼, 키는 "
         "tandor-sign keygen 의 공개 키로 적습니다).";
}
inline std::string ManifestExpired(const std::string& remote, const std::string& expires) {
  return remote + " 의 유효 기간이 " + expires +
         " (UTC)에 끝나 설치하지 않습니다. 서버가 오래된 업데이트 목록을 보내고 있을 수 "
         "있습니다.";
}
inline std::string ClockBehind(const std::string& remote, const std::string& signedAt) {
  return "이 컴퓨터의 시계가 " + remote + " 의 서명 시각 " + signedAt +
         " (UTC)보다 하루 넘게 늦습니다. 유효 기간은 서명 시각을 기준으로 확인했습니다. 시계를 "
         "맞추십시오.";
}
inline std::string KeyLearned(const std::string& key) {
  return "새 서명 키를 신뢰합니다: " + key;
}
inline std::string KeyRevoked(const std::string& key) {
  return "서명 키를 더 이상 신뢰하지 않습니다: " + key;
}
inline std::string RevokedOwnSigner(const std::string& key) {
  return "업데이트 목록이 자기를 서명한 키 " + key +
         " 을(를) 폐기하라고 하지만(RevokeKey=), 그 키를 폐기하면 이 목록도 신뢰할 수 없으므로 "
         "폐기하지 않습니다.";
}
inline std::string NoRoomForKey(const std::string& key, int most) {
  return "신뢰하는 서명 키가 이미 " + std::to_string(most) + "개라서 새 키 " + key +
         " 을(를) 더하지 못했습니다. registry.ini 의 ManifestKey 값을 정리하십시오.";
}

// The publisher's Save.
inline std::string SerialNotANumber() {
  return "[Files]의 Serial= 이(가) 18자리 이하의 숫자가 아니어서 올릴 수 없습니다. 고친 뒤 다시 "
         "저장하십시오.";
}
inline std::string ProductUnknown() {
  return "서명할 업데이트 목록의 제품을 알 수 없습니다. Path에 제품 폴더(예: /Harrowin/Sample)를 "
         "적거나 [Files]에 Product= 를 적은 뒤 다시 저장하십시오.";
}
inline std::string SigningKeyUnusable(const std::string& file) {
  return "TANDOR_SIGNING_KEY의 " + file +
         " 은(는) 읽을 수 있는 서명 키가 아닙니다. 업데이트 목록을 저장하지 않았습니다.";
}
inline std::string SigningKeyShared(const std::string& file) {
  return "TANDOR_SIGNING_KEY의 " + file +
         " 은(는) 다른 사용자도 읽을 수 있어 서명에 쓰지 않습니다. chmod 600 으로 소유자만 읽게 한 "
         "뒤 다시 저장하십시오. 업데이트 목록을 저장하지 않았습니다.";
}

// Tandor '$Version' where no screen is.
inline constexpr const char* kPublisherNeedsDisplay =
    "화면이 없어 업데이트 목록 편집 창($Version)을 열 수 없습니다. 화면이 있는 곳에서 "
    "실행하십시오.";

// Message boxes.
inline std::string ProgramStillOpen(const std::string& caption) {
  return caption + "이(가) 이미 실행중이어서 다운로드를 진행할 수 없습니다.\r\n\r\n" + caption +
         "을(를) 종료후 프로그램을 다시 시작하십시오!";
}
inline std::string ExtractionError(const std::string& archive) {
  return archive + "의 압축을 푸는 중 에러가 발생하였습니다.\r\n\r\n";
}
inline std::string CloseIfRunning(const std::string& program) {
  return program + "이(가) 이미 실행중이면 종료 후 다시 시도하세요.";
}
// A size for people: whole kilobytes below a megabyte, else megabytes with one decimal.
inline std::string SizeText(std::uint64_t bytes) {
  if (bytes < (1u << 20)) return std::to_string((bytes + 1023) / 1024) + " KB";
  const std::uint64_t tenths = (bytes * 10 + (1u << 19)) >> 20;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " MB";
}
inline std::string TooLittleSpace(std::uint64_t needed, std::uint64_t margin,
                                  std::uint64_t available) {
  return "디스크의 여유 공간이 부족합니다: 압축을 풀 파일 " + SizeText(needed) + "와(과) 여유분 " +
         SizeText(margin) + "이(가) 필요하지만 " + SizeText(available) +
         "만 남아 있습니다. 공간을 확보한 뒤 다시 시도하세요.";
}
inline constexpr const char* kAskTheAdministrator = "관리자에게 문의하세요!";
inline std::string RebootNeeded(const std::string& product) {
  return "시스템의 중요한 파일이 업그레이드 되었습니다.\r\n\r\n" + product +
         "의 정상적인 사용을 위해 컴퓨터를 리부팅해야 합니다.";
}
inline std::string RuntimeError(int number, const std::string& description) {
  std::string text = "'";
  text += std::to_string(number);
  return text + "' 런타임 오류가 발생하였습니다.:\r\n\r\n" + description;
}
inline constexpr const char* kDamagedFile = "파일이 손상되었으므로 프로그램을 시작할 수 없습니다.";

}  // namespace tandor::msg
