// libarchive, loaded at the first extraction rather than at every start: it and the libraries it
// pulls in (XML, ICU, four compressors) cost a few milliseconds of every start of the program,
// and most passes extract nothing. The functions the extractor calls are defined here under
// their own names and forward to the library's. Should the library be missing, the two
// constructors return no handle, which the extractor reports as a failed extraction; nothing
// else is reached without a handle.

#include <archive.h>
#include <archive_entry.h>
#include <dlfcn.h>

#include <cstdlib>

namespace {

#define TANDOR_LIBARCHIVE_FUNCTIONS(X)        \
  X(archive_read_new)                         \
  X(archive_read_free)                        \
  X(archive_read_support_format_zip_seekable) \
  X(archive_read_set_passphrase_callback)     \
  X(archive_read_add_passphrase)              \
  X(archive_read_open_filename)               \
  X(archive_read_next_header)                 \
  X(archive_read_data_block)                  \
  X(archive_write_disk_new)                   \
  X(archive_write_disk_set_options)           \
  X(archive_write_header)                     \
  X(archive_write_data_block)                 \
  X(archive_write_finish_entry)               \
  X(archive_write_close)                      \
  X(archive_write_free)                       \
  X(archive_entry_filetype)                   \
  X(archive_entry_pathname)                   \
  X(archive_entry_symlink)                    \
  X(archive_entry_copy_pathname)              \
  X(archive_entry_size)                       \
  X(archive_entry_size_is_set)

struct Functions {
#define TANDOR_MEMBER(name) decltype(&::name) name = nullptr;
  TANDOR_LIBARCHIVE_FUNCTIONS(TANDOR_MEMBER)
#undef TANDOR_MEMBER
  bool Loaded = false;
};

Functions LoadFunctions() {
  Functions functions;
  void* library = dlopen("libarchive.so.13", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return functions;
  bool all = true;
#define TANDOR_RESOLVE(name)                                                   \
  functions.name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name)); \
  all = all && functions.name != nullptr;
  TANDOR_LIBARCHIVE_FUNCTIONS(TANDOR_RESOLVE)
#undef TANDOR_RESOLVE
  functions.Loaded = all;
  return functions;
}

const Functions& Library() {
  static const Functions functions = LoadFunctions();
  return functions;
}

// For the calls that only ever come with a handle the library made.
const Functions& Loaded() {
  const Functions& functions = Library();
  if (!functions.Loaded) std::abort();
  return functions;
}

}  // namespace

extern "C" {

archive* archive_read_new() {
  return Library().Loaded ? Library().archive_read_new() : nullptr;
}
archive* archive_write_disk_new() {
  return Library().Loaded ? Library().archive_write_disk_new() : nullptr;
}
int archive_read_free(archive* a) {
  return Loaded().archive_read_free(a);
}
int archive_read_support_format_zip_seekable(archive* a) {
  return Loaded().archive_read_support_format_zip_seekable(a);
}
int archive_read_set_passphrase_callback(archive* a, void* data,
                                         archive_passphrase_callback* callback) {
  return Loaded().archive_read_set_passphrase_callback(a, data, callback);
}
int archive_read_add_passphrase(archive* a, const char* passphrase) {
  return Loaded().archive_read_add_passphrase(a, passphrase);
}
int archive_read_open_filename(archive* a, const char* filename, size_t blockSize) {
  return Loaded().archive_read_open_filename(a, filename, blockSize);
}
int archive_read_next_header(archive* a, archive_entry** entry) {
  return Loaded().archive_read_next_header(a, entry);
}
int archive_read_data_block(archive* a, const void** block, size_t* size, la_int64_t* offset) {
  return Loaded().archive_read_data_block(a, block, size, offset);
}
int archive_write_disk_set_options(archive* a, int flags) {
  return Loaded().archive_write_disk_set_options(a, flags);
}
int archive_write_header(archive* a, archive_entry* entry) {
  return Loaded().archive_write_header(a, entry);
}
la_ssize_t archive_write_data_block(archive* a, const void* block, size_t size, la_int64_t offset) {
  return Loaded().archive_write_data_block(a, block, size, offset);
}
int archive_write_finish_entry(archive* a) {
  return Loaded().archive_write_finish_entry(a);
}
int archive_write_close(archive* a) {
  return Loaded().archive_write_close(a);
}
int archive_write_free(archive* a) {
  return Loaded().archive_write_free(a);
}
__LA_MODE_T archive_entry_filetype(archive_entry* entry) {
  return Loaded().archive_entry_filetype(entry);
}
const char* archive_entry_pathname(archive_entry* entry) {
  return Loaded().archive_entry_pathname(entry);
}
const char* archive_entry_symlink(archive_entry* entry) {
  return Loaded().archive_entry_symlink(entry);
}
void archive_entry_copy_pathname(archive_entry* entry, const char* name) {
  Loaded().archive_entry_copy_pathname(entry, name);
}
la_int64_t archive_entry_size(archive_entry* entry) {
  return Loaded().archive_entry_size(entry);
}
int archive_entry_size_is_set(archive_entry* entry) {
  return Loaded().archive_entry_size_is_set(entry);
}

}  // extern "C"
