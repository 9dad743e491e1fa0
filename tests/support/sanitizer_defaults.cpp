// Leaks inside the system's font and accessibility libraries are not ours;
// everything else the leak checker finds fails the test program.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\n"
           "leak:libQt6Gui\n"
           "leak:libQt6Core\n"
           "leak:libQt6Widgets\n"
           "leak:libglib\n"
           "leak:libgobject\n"
           "leak:libdbus\n"
           "leak:libcups\n"
           "leak:libgnutls\n"
           "leak:libfreetype\n";
}
