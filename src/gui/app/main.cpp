#include "gui/app/VorlixApplication.h"
#include "render/Renderer.h"

#include <cstring>

int main(int argc, char** argv)
{
    // "vorlix render ..." renders without a window: no display and no sound server needed.
    if (argc > 1 && std::strcmp(argv[1], "render") == 0)
        return RenderMain(argc, argv);
    return VorlixMain(argc, argv);
}
