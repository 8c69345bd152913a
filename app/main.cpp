// cantilena: plays the song it carries.
#include <cstdio>

int main()
{
    std::printf("cantilena: playback is not there yet; build and test with the README's commands.\n");
    return 0;
}
