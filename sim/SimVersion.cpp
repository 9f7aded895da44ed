// Identifies the simulation library in a backtrace or a map file.
extern const char tovikSimulationLibrary[] = "tovik-sim";
