// cantilena: plays the song appended to its own file, else the one it carries.
#include "app/player_app.h"
#include "data/embedded_song.h"

int main(int argc, char** argv)
{
    return cantilena_main(argc, argv, CarriedSong{kEmbeddedSong, kEmbeddedSongSize, kEmbeddedSongTitle});
}
