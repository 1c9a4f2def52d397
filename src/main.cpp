// The console's entry point; the main window arrives with the login slice.
#include <cstdio>

int main()
{
    std::puts("velmora: the console window is not built yet");
    return 0;
}
