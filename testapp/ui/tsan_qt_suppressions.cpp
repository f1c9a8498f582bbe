// ThreadSanitizer builds only: the Qt libraries of the system are not
// instrumented, so TSan sees their memory handed between Qt's own threads
// (the test watchdog, the image-conversion thread pool) without the
// synchronisation that orders it, and reports races inside Qt. Calls that
// Qt's libraries make into the sanitizer's interceptors are ignored; every
// access of our own code, and every lock and thread it uses, is still
// checked.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so.6\n"
         "called_from_lib:libQt6Gui.so.6\n"
         "called_from_lib:libQt6Widgets.so.6\n"
         "called_from_lib:libQt6Test.so.6\n"
         "called_from_lib:libglib-2.0.so.0\n";
}
