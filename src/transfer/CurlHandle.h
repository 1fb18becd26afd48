#pragma once
// Owners for libcurl's C handles.

#include <curl/curl.h>

#include <memory>
#include <string>

namespace tandor {

struct CurlEasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

struct CurlMultiDeleter {
  void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
using CurlMulti = std::unique_ptr<CURLM, CurlMultiDeleter>;

struct CurlUrlDeleter {
  void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;

// A header or command list; Append keeps the list owned even when curl returns a new head.
class CurlList {
 public:
  CurlList() = default;
  CurlList(const CurlList&) = delete;
  CurlList& operator=(const CurlList&) = delete;
  CurlList(CurlList&& other) noexcept : mHead(other.mHead) { other.mHead = nullptr; }
  CurlList& operator=(CurlList&& other) noexcept {
    if (this != &other) {
      curl_slist_free_all(mHead);
      mHead = other.mHead;
      other.mHead = nullptr;
    }
    return *this;
  }
  ~CurlList() { curl_slist_free_all(mHead); }

  bool Append(const std::string& text) {
    curl_slist* head = curl_slist_append(mHead, text.c_str());
    if (head == nullptr) return false;
    mHead = head;
    return true;
  }
  curl_slist* Get() const { return mHead; }

 private:
  curl_slist* mHead = nullptr;
};

}  // namespace tandor
