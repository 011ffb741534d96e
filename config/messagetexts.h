#pragma once

#include <string>
#include <vector>

// The messages the window shows, from the [Messages] section of the GUI file; a missing key
// keeps the built-in text (German where the window's first texts were German). %1 and %2 stand for
// a file name or a number filled in when shown.
struct MessageTexts
{
    std::string fileCannotOpen = "Datei %1 kann nicht ge\xF6"
                                 "ffnet werden";
    std::string fileTooLarge = "Datei %1 ist zu gro\xDF f\xFCr das Codefeld (h\xF6"
                               "chstens %2 Zeichen)";
    std::string fileCannotCreate = "Datei %1 kann nicht erstellt werden";
    std::string paneFullCharacters = "Programm angehalten: das Ausgabefeld ist voll (%1 Zeichen)";
    std::string paneFullLines = "Programm angehalten: das Ausgabefeld ist voll (%1 Zeilen)";
    std::string textTooLong = "Der Text passt nicht mehr in das Feld (h\xF6"
                              "chstens %1 Zeichen)";
    std::string notAnInteger = "'%1' ist kein g\xFC"
                               "ltiger Integerwert";
    std::string savedAsUtf8 = "%1 was saved as UTF-8: the code holds characters its "
                              "encoding (Windows-1252) cannot hold.";
    std::string closeUnsaved = "The code has changes that were never saved. Save them?";
    // A fault of the program itself, reported rather than let through to the event loop.
    std::string unexpectedError = "Unerwarteter Fehler";
    // Configuration files are read before any GUI file: these always show as built in.
    std::string iniCannotOpen = "Datei %1 kann nicht ge\xF6"
                                "ffnet werden";
    std::string iniTooLarge = "Datei %1 ist zu gro\xDF (h\xF6"
                              "chstens %2 Bytes)";
    // No configuration beside the program (%1) nor in ../share/cerebrix beside it (%2).
    std::string configurationMissing = "Keine Konfiguration gefunden, weder in %1 noch in %2: "
                                       "es gelten die eingebauten Texte.";
};

// A built-in text with %1, %2, ... filled in, as UTF-8 for a UserError. The built-in texts use
// no character of the code page beyond Latin-1, so each byte is its own character.
std::string builtInMessage(const std::string &text, const std::vector<std::string> &arguments);
