// Linked into every test program of the sanitizer build: memory that system
// libraries keep for the life of the process is not a leak of ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n"
         "leak:libfreetype.so\n"
         "leak:libdbus-1.so\n"
         "leak:QInputDevice::primaryKeyboard\n";
}
