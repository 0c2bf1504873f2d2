// Platform layer over the C library.
#include "core/platform/platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

Platform_State Platform;
Date_Time_Record Date_Time;

namespace {
bool Write_Failed = false;
std::string* Capture_Out = nullptr;
std::string* Capture_Err = nullptr;

// Not inlined: GCC's link-time view of a short constant text would take the
// 1 GiB chunk bound for a read past it.
[[gnu::noinline]] void Write_All(int fd, const char* text, size_t length) {
  while (length > 0) {
    // At most 1 GiB a call: a write may take less than asked anyway.
    const size_t chunk = length < (size_t{1} << 30) ? length : (size_t{1} << 30);
    ssize_t n = ::write(fd, text, chunk);
    if (n <= 0) return;  // the console result is not acted upon
    text += n;
    length -= static_cast<size_t>(n);
  }
}
}  // namespace

void Console_Capture(std::string* out, std::string* err) {
  Capture_Out = out;
  Capture_Err = err;
}

void Sys_Write_Out(const char* text, uint32_t length) {
  if (Capture_Out) Capture_Out->append(text, length);
  else Write_All(1, text, length);
}

void Sys_Write_Err(const char* text, uint32_t length) {
  if (Capture_Err) Capture_Err->append(text, length);
  else Write_All(2, text, length);
}

void Print_Text(const char* text) { Sys_Write_Out(text, static_cast<uint32_t>(std::strlen(text))); }
void Print_Err(const char* text) { Sys_Write_Err(text, static_cast<uint32_t>(std::strlen(text))); }

namespace {
constexpr uint32_t Kept_Block_Minimum = 0x10000;
struct Kept_Block {
  void* block;
  uint32_t size;
};
Kept_Block Kept_Blocks[16];
uint32_t Kept_Count = 0;
}  // namespace

void* Mem_Alloc(uint32_t size) {
  Platform.Mem_Total_Bytes += size;
  for (uint32_t i = 0; i < Kept_Count; ++i) {
    if (Kept_Blocks[i].size != size) continue;
    void* block = Kept_Blocks[i].block;
    Kept_Blocks[i] = Kept_Blocks[--Kept_Count];
    return block;
  }
  return std::malloc(size ? size : 1);
}

void* Mem_Alloc_Zero(uint32_t size) {
  Platform.Mem_Total_Bytes += size;
  return std::calloc(size ? size : 1, 1);
}

void Mem_Free(void* block, uint32_t /*tag*/, uint32_t size) {
  if (block && Platform.Keep_Large_Blocks && size >= Kept_Block_Minimum &&
      Kept_Count < sizeof Kept_Blocks / sizeof Kept_Blocks[0]) {
    Kept_Blocks[Kept_Count++] = Kept_Block{block, size};
    return;
  }
  std::free(block);
}

void Mem_Fill(void* block, uint8_t byte, uint32_t size) { std::memset(block, byte, size); }

File_Handle File_Open(char* path, File_Kind_Value* kind) {
  for (char* p = path; *p; ++p)
    if (*p == '\\') *p = '/';
  File_Kind_Value found = File_Absent;
  std::FILE* f = nullptr;
  // Without O_NONBLOCK a pipe with no writer would block the open for ever;
  // the type is known only once the file is open, from its descriptor.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    struct stat st;
    if (::fstat(fd, &st) != 0) found = File_Absent;
    else if (S_ISREG(st.st_mode)) found = File_Regular;
    else found = S_ISDIR(st.st_mode) ? File_Directory : File_Other;
    if (found == File_Regular && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0)
      f = ::fdopen(fd, "rb");
    if (!f) {
      ::close(fd);
      if (found == File_Regular) found = File_Absent;
    }
  }
  if (kind) *kind = found;
  return f;
}

File_Handle File_Create(const char* path) { return std::fopen(path, "w+b"); }

int File_Close(File_Handle h) {
  if (!h) return -1;
  const int r = std::fclose(static_cast<std::FILE*>(h));
  if (r != 0) Write_Failed = true;
  return r;
}

int64_t File_Size(File_Handle h) {
  auto* f = static_cast<std::FILE*>(h);
  if (::fseeko(f, 0, SEEK_END) != 0) return -1;
  const off_t size = ::ftello(f);
  if (::fseeko(f, 0, SEEK_SET) != 0) return -1;
  return size < 0 ? -1 : static_cast<int64_t>(size);
}

int File_Seek(File_Handle h, uint64_t offset) {
  if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) return -1;
  return ::fseeko(static_cast<std::FILE*>(h), static_cast<off_t>(offset), SEEK_SET);
}

int File_Read(File_Handle h, void* buffer, uint32_t n) {
  if (n == 0) return 0;
  return std::fread(buffer, n, 1, static_cast<std::FILE*>(h)) == 1 ? 1 : 0;
}

int File_Write(File_Handle h, const void* buffer, uint32_t n) {
  if (n == 0) return 1;
  if (std::fwrite(buffer, n, 1, static_cast<std::FILE*>(h)) == 1) return 1;
  Write_Failed = true;
  return 0;
}

bool File_Exists(const char* path) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

int File_Remove(const char* path) { return std::remove(path); }

int File_Rename(const char* from, const char* to) { return std::rename(from, to); }

File_Kind_Value File_Kind(const char* path, bool follow_link) {
  struct stat st;
  if ((follow_link ? ::stat(path, &st) : ::lstat(path, &st)) != 0) return File_Absent;
  if (S_ISREG(st.st_mode)) return File_Regular;
  if (S_ISDIR(st.st_mode)) return File_Directory;
  return File_Other;
}

void File_Failure_Reset() { Write_Failed = false; }
bool File_Failure() { return Write_Failed; }

void Get_Local_Time() {
  std::time_t now = std::time(nullptr);
  std::tm* t = std::localtime(&now);
  if (!t) return;
  Date_Time.year = static_cast<uint16_t>(t->tm_year + 1900);
  Date_Time.month = static_cast<uint16_t>(t->tm_mon + 1);
  Date_Time.day = static_cast<uint16_t>(t->tm_mday);
  Date_Time.hour = static_cast<uint16_t>(t->tm_hour);
  Date_Time.minute = static_cast<uint16_t>(t->tm_min);
  Date_Time.second = static_cast<uint16_t>(t->tm_sec);
}

uint32_t Clock_Ms() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return static_cast<uint32_t>(static_cast<uint32_t>(tv.tv_sec) * 1000u +
                               static_cast<uint32_t>(tv.tv_usec / 1000));
}

void Sys_Exit(int code) { std::exit(code); }

bool Env_Flag(const char* name) {
  const char* v = std::getenv(name);
  return v && v[0] && !(v[0] == '0' && v[1] == 0);
}
