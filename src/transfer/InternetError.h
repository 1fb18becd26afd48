#pragma once
// Failure numbers of the internet library the updater was written against, their texts, and the
// mapping from libcurl's results onto them. Callers and logs show these numbers, so they stay
// the same whatever library does the work underneath.

#include <curl/curl.h>

#include <string>
#include <string_view>

namespace tandor {

namespace inet {
constexpr int InvalidHandle = 6;  // operation on a connection that is not open
constexpr int NotEnoughMemory = 8;
constexpr int NoMoreFiles = 18;
constexpr int FileTooLarge = 223;  // larger than the caller allows (the system's own number)
constexpr int Timeout = 12002;
constexpr int ExtendedError = 12003;  // the server's own reply says what went wrong
constexpr int InternalError = 12004;
constexpr int InvalidUrl = 12005;
constexpr int UnrecognizedScheme = 12006;
constexpr int NameNotResolved = 12007;
constexpr int IncorrectPassword = 12014;
constexpr int OperationCancelled = 12017;
constexpr int CannotConnect = 12029;
constexpr int ConnectionAborted = 12030;
constexpr int ConnectionReset = 12031;
constexpr int InvalidCa = 12045;
constexpr int InvalidServerResponse = 12152;
constexpr int RedirectFailed = 12156;
constexpr int SecureChannelError = 12157;
}  // namespace inet

// Our English text for an error number; empty for numbers that have none.
std::string InternetErrorText(int code);

// The error number for a failed libcurl call. `osErrno` is CURLINFO_OS_ERRNO of the handle, which
// tells a reset connection from one that was merely closed.
int InternetErrorFromCurl(CURLcode result, long osErrno);

// label + " error code: " + code + " Message: " + text: the one form every failure is kept in.
std::string FormatInternetError(std::string_view label, int code, std::string_view text);

}  // namespace tandor
