// Plays one file through the whole engine (file type, four buffers, callback thread, wave
// output) on the default device, polling the state every 50 ms as the status window does.
#include <cstdio>

#include "player/WavePlayer.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s file\n", argv[0]);
        return 2;
    }
    WavePlayer player(nullptr);
    if (player.Start(-1, argv[1], 0, 1.0f, 1.0f) != 0) {
        char* text = nullptr;
        player.GetErrorText(&text);
        std::fprintf(stderr, "%s\n", text);
        return 1;
    }
    player.Restart();
    while (player.GetState() != PLAYER_STOPPED) {
        Sleep(50);
    }
    return player.Close();
}
