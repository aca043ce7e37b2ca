// Two caches of Qt 5 outlive the tests and are reported at exit in a sanitizer build: the
// screen that the offscreen platform announces and never deletes, and the image cache of Qt
// Quick, which lives in the main thread's thread storage (never cleaned up for that thread)
// together with the textures made from its images. Only allocations made below those calls are
// let through; a leak of anything else still fails the run.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libqoffscreen.so\n"
           "leak:QScreen::QScreen\n"
           "leak:QPlatformScreen::QPlatformScreen\n"
           "leak:QWindowSystemInterface::handleScreenAdded\n"
           "leak:QQuickPixmap::load\n"
           "leak:QQuickImage::updatePaintNode\n";
}

// Qt's libraries have no frame pointers: with the fast unwinder a leak's stack stops after one
// frame and never reaches the screen calls named above.
extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}
