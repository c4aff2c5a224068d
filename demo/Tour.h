// The demonstration program's guided tour: the four searches run as a user runs them (a column
// chosen, a value typed, "Filtra en Y", an order, rows picked to sum, "&Aceptar"), a picture of
// each step saved with a line saying what it shows. It drives the real forms, so it runs
// offscreen as well as on a display.
#pragma once

#include <string>

class TForm1;

// Where the tour leaves its pictures: Dir/NN-name.png and the index Dir/recorrido.txt.
inline constexpr const char* TourIndexName = "recorrido.txt";

// The size of the screen the tour draws on, and so of its pictures of maximised forms.
inline constexpr int TourScreenWidth = 1280, TourScreenHeight = 800;

// Chooses the offscreen platform for the tour, on a screen of the tour's size, unless
// QT_QPA_PLATFORM names another platform (or the offscreen one with options). Returns the screen's
// configuration file, which the caller removes once the application is initialised ("" when none
// was written).
std::string PrepareTourPlatform();

// Queues the tour to start once the application's event loop runs (Application->Run), on Form
// showing the data module's tables. Each step's line goes to standard output; message boxes go
// to standard error and count as failures. At the end the main form closes, which ends Run, and
// *Status holds 0 when every step was pictured, 1 otherwise. Raises Exception naming Dir when it
// cannot be created.
void StartTour(TForm1& Form, const std::string& Dir, int* Status);
