#include "app/Updater.h"

int main(int argc, char *argv[])
{
    return runUpdaterMain(argc, argv, realUpdaterParts);
}
