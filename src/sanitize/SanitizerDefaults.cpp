// The sanitizers' default suppressions, read by their runtimes at start-up. Built only into
// sanitizer builds of the desktop program and of the test programs, so the two share one list.

// ---- Leak checking -------------------------------------------------------------------------

// Fontconfig keeps its font cache for the life of the process and frees it only when asked,
// which Qt never does; the D-Bus connection Qt opens on a real display lives as long as the
// process too. Neither library frees them, so they are not our leaks.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n";
}

// ---- Thread checking -----------------------------------------------------------------------

// Qt and the libraries under it are not built for the thread checker: their locks and atomics
// are invisible to it, so memory they hand from one thread to another (queued calls, the
// thread pool, wait conditions, the X connection's reader thread, the D-Bus thread, the file
// dialog's gatherer) looks unsynchronised. Calls into the checker made from inside these
// libraries are ignored; our own code stays fully checked.
extern "C" const char* __tsan_default_suppressions()
{
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n"
           "called_from_lib:libQt6DBus.so.6\n"
           "called_from_lib:libQt6XcbQpa.so.6\n"
           "called_from_lib:libxcb.so.1\n"
           "called_from_lib:libglib-2.0.so.0\n" // Qt's event loop
           // Xlib destroys its display lock while still holding it as the program ends.
           "mutex:libX11.so.6\n";
}
