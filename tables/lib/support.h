// Start-up and shut-down of the storage library's process-wide objects: the
// open-file registry, the record-bitmap pool and the char-map cache. The
// engine's own start-up and exit call these; calls nest, and only the
// outermost pair creates and frees.
#pragma once

namespace korvex {

class TFileList;
class TRecordsBitmapStack;
class TLanguageCharMapsList;

void InitializeSupportFunctions();
void ExitSupportFunctions();
bool SupportFunctionsInitialized();

// The global objects; each raises engine error 10758 ("Engine not
// initialized") outside InitializeSupportFunctions .. ExitSupportFunctions.
TFileList& FileList();
TRecordsBitmapStack& RecordsBitmapStack();
TLanguageCharMapsList& LanguageCharMaps();

}  // namespace korvex
