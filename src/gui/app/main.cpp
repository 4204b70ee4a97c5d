#include "gui/app/VorlixApplication.h"

int main(int argc, char** argv)
{
    return VorlixMain(argc, argv);
}
