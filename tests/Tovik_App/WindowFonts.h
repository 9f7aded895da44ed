#pragma once

// Registers the bundled Poppins faces, as the program does at start-up; returns how many loaded.
int registerWindowFonts();
