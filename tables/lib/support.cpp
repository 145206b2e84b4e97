#include "tables/lib/support.h"

#include <mutex>

#include "tables/engine/errors/errors.h"
#include "tables/lib/allocator.h"
#include "tables/lib/collation.h"
#include "tables/lib/exptoken.h"
#include "tables/lib/file_list.h"
#include "tables/lib/records_bitmap.h"

namespace korvex {
namespace {

std::mutex start_lock;
int start_count = 0;
TRecordsBitmapStack* bitmap_pool = nullptr;
TFileList* file_list = nullptr;
TLanguageCharMapsList* char_maps = nullptr;

template <typename T>
T& Require(T* object) {
  if (!object) RaiseError(err::kNotInitialized);
  return *object;
}

}  // namespace

void InitializeSupportFunctions() {
  std::lock_guard<std::mutex> guard(start_lock);
  if (start_count++ > 0) return;
  ResetReleaseCounter();
  bitmap_pool = new TRecordsBitmapStack;
  file_list = new TFileList;
  char_maps = new TLanguageCharMapsList;
}

void ExitSupportFunctions() {
  std::lock_guard<std::mutex> guard(start_lock);
  if (start_count == 0 || --start_count > 0) return;
  FreeAllExpTokens();
  delete char_maps;
  char_maps = nullptr;
  delete file_list;
  file_list = nullptr;
  delete bitmap_pool;
  bitmap_pool = nullptr;
}

bool SupportFunctionsInitialized() {
  std::lock_guard<std::mutex> guard(start_lock);
  return start_count > 0;
}

TFileList& FileList() { return Require(file_list); }
TRecordsBitmapStack& RecordsBitmapStack() { return Require(bitmap_pool); }
TLanguageCharMapsList& LanguageCharMaps() { return Require(char_maps); }

}  // namespace korvex
