#include "transfer/InternetError.h"

#include <cerrno>

namespace tandor {

std::string InternetErrorText(int code) {
  switch (code) {
    case inet::Timeout:
      return "The operation timed out.";
    case inet::ExtendedError:
      return "The server returned extended information.";
    case inet::InternalError:
      return "An internal error occurred.";
    case inet::InvalidUrl:
      return "The address is not valid.";
    case inet::UnrecognizedScheme:
      return "The address uses a protocol that is not supported.";
    case inet::NameNotResolved:
      return "The server name or address could not be resolved.";
    case inet::IncorrectPassword:
      return "The server did not accept the user name or password.";
    case inet::OperationCancelled:
      return "The operation was cancelled.";
    case inet::CannotConnect:
      return "A connection with the server could not be established.";
    case inet::ConnectionAborted:
      return "The connection with the server was ended before the operation finished.";
    case inet::ConnectionReset:
      return "The connection with the server was reset.";
    case inet::InvalidCa:
      return "The server's certificate could not be verified.";
    case inet::InvalidServerResponse:
      return "The server response could not be understood.";
    case inet::RedirectFailed:
      return "The redirection could not be followed.";
    case inet::SecureChannelError:
      return "A secure connection with the server could not be established.";
    default:
      return "";
  }
}

int InternetErrorFromCurl(CURLcode result, long osErrno) {
  switch (result) {
    case CURLE_OK:
      return 0;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return inet::NameNotResolved;
    case CURLE_COULDNT_CONNECT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_ACCEPT_FAILED:
      return inet::CannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_FTP_ACCEPT_TIMEOUT:
      return inet::Timeout;
    case CURLE_LOGIN_DENIED:
      return inet::IncorrectPassword;
    // The server refused a command: its reply is the explanation.
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_QUOTE_ERROR:
    case CURLE_FTP_COULDNT_RETR_FILE:
    case CURLE_FTP_COULDNT_SET_TYPE:
    case CURLE_FTP_COULDNT_USE_REST:
    case CURLE_FTP_PORT_FAILED:
    case CURLE_UPLOAD_FAILED:
    case CURLE_REMOTE_DISK_FULL:
    case CURLE_REMOTE_FILE_EXISTS:
      return inet::ExtendedError;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      return osErrno == ECONNRESET ? inet::ConnectionReset : inet::ConnectionAborted;
    case CURLE_PARTIAL_FILE:
      return inet::ConnectionAborted;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_FTP_WEIRD_PASS_REPLY:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_BAD_CONTENT_ENCODING:
      return inet::InvalidServerResponse;
    case CURLE_URL_MALFORMAT:
      return inet::InvalidUrl;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return inet::UnrecognizedScheme;
    case CURLE_TOO_MANY_REDIRECTS:
      return inet::RedirectFailed;
    case CURLE_ABORTED_BY_CALLBACK:
      return inet::OperationCancelled;
    case CURLE_OUT_OF_MEMORY:
      return inet::NotEnoughMemory;
    case CURLE_PEER_FAILED_VERIFICATION:
      return inet::InvalidCa;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_USE_SSL_FAILED:
      return inet::SecureChannelError;
    default:
      return inet::InternalError;
  }
}

std::string FormatInternetError(std::string_view label, int code, std::string_view text) {
  std::string message(label);
  message += " error code: ";
  message += std::to_string(code);
  message += " Message: ";
  message += text;
  return message;
}

}  // namespace tandor
