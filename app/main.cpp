// cantilena: plays the song it carries.
#include "app/player_app.h"
#include "data/embedded_song.h"

int main(int argc, char** argv)
{
    return cantilena_main(argc, argv, kEmbeddedSong);
}
