// SPDX-License-Identifier: BSD-3-Clause
// The message catalogue: the fixed English and German texts of the result codes of the support
// library and the configuration code. German texts are in code page 437 (0x81 is the u-umlaut).
#include "config/messages.h"

namespace {

struct Message {
  uint32_t code;
  const char* english;
  const char* german;
};

constexpr const char kUnknownEn[] = "Unknown error";
constexpr const char kUnknownDe[] = "Unbekannter Fehler";

// Parameter errors: 0x81000000 + n names parameter n + 1.
constexpr uint32_t kParameterBase = 0x81000000;
constexpr uint32_t kParameterCount = 19;

constexpr const char* kParameterEn[kParameterCount] = {
    "Error in parameter 1 ",  "Error in parameter 2 ",  "Error in parameter 3 ",
    "Error in parameter 4 ",  "Error in parameter 5 ",  "Error in parameter 6 ",
    "Error in parameter 7 ",  "Error in parameter 8 ",  "Error in parameter 9 ",
    "Error in parameter 10 ", "Error in parameter 11 ", "Error in parameter 12 ",
    "Error in parameter 13 ", "Error in parameter 14 ", "Error in parameter 15 ",
    "Error in parameter 16 ", "Error in parameter 17 ", "Error in parameter 18 ",
    "Error in parameter 19 ",
};

constexpr const char* kParameterDe[kParameterCount] = {
    "Fehler bei Parameter 1 ",  "Fehler bei Parameter 2 ",  "Fehler bei Parameter 3 ",
    "Fehler bei Parameter 4 ",  "Fehler bei Parameter 5 ",  "Fehler bei Parameter 6 ",
    "Fehler bei Parameter 7 ",  "Fehler bei Parameter 8 ",  "Fehler bei Parameter 9 ",
    "Fehler bei Parameter 10 ", "Fehler bei Parameter 11 ", "Fehler bei Parameter 12 ",
    "Fehler bei Parameter 13 ", "Fehler bei Parameter 14 ", "Fehler bei Parameter 15 ",
    "Fehler bei Parameter 16 ", "Fehler bei Parameter 17 ", "Fehler bei Parameter 18 ",
    "Fehler bei Parameter 19 ",
};

// The texts are kept exactly as the codes have always been reported, blanks and spellings
// included, since other programs sharing the code space show the same texts.
constexpr Message kMessages[] = {
    {0x00000000, "OK", "OK"},
    {0x81100000, "Insufficient privilege, unlock VRL first",
     "Sie besitzen zu wenig Rechte, zuerst VRL aufsperren"},
    {0x81100001, "Incorrect password", "Das Passwort ist falsch"},
    {0x81100002, "Password is locked", "Das Passwort ist gesperrt"},
    {0x81200000, "An item (e.g. a key of a specific name) could not be found.",
     "Ein Element wurde nicht gefunden"},
    {0x81200001, "There are still items left", "Es sind noch Elementeuebrig"},
    {0x81200002, "Invalid configuration file",
     "Ung"
     "\x81"
     "ltige Konfigurationsdatei"},
    {0x81200003, "Section not found", "Section konnte nicht gefunden werden"},
    {0x81200004, "Entry not found", "Entry konnte nicht gefunden werden"},
    {0x81200005, "No more sections available", "Keine weiteren Sektionen vorhanden"},
    {0x81200006, "An item already exists", "Ein Element existiert bereits"},
    {0x81300000, "Unexpected return value", "Unerwarteter Returncode"},
    {0x81300001, "Card badly inserted or damaged", "TOKEN falsch eingesteckt, oder defekt"},
    {0x81300002, "Not enough memory", "Zu wenig Hauptspeicher"},
    {0x81300003, "Buffer too small", "Datenpuffer zu klein"},
    {0x81300004, "Timeout occurred", "Timeout aufgetreten"},
    {0x81300005, "Function not supported", "Funktion wird nicht unterstuetzt"},
    {0x81300006, "Illegal argument", "Ein Parameter hatte einen illegalen Wert"},
    {0x81300007, "File IO read error ", "Fehler beim Lesen der Datei"},
    {0x81300008, "File IO write error ", "Fehler beim Schreiben der Datei "},
    {0x81300009, "Invalid handle",
     "Ung"
     "\x81"
     "ltiger Handle"},
    {0x8130000A, "General failure or sequence error", "Allgemeiner- oder Sequenzfehler"},
    {0x8130000B, "File not found", "Datei nicht gefunden"},
    {0x8130000D, "Semaphore in use", "Semaphore bereits benutzt"},
    {0x81F00002, "Function not executed ", "Funktion nicht ausgefuehrt"},
    {0x81F00003, "Internal error detected ", "Innerer Fehler gefunden "},
    {0x81F00004, "Module not initialized ", "Modul nicht initialisiert"},
    {0x81F00005, "File IO error detected ", "Datei Ein/Ausgabefehler "},
    {0x81F00006, "Cannot allocate memory ", "Kann Speicher nicht reservieren"},
    {0x81F00007, "General error ", "Allgemeiner Fehler "},
    {0x81F00008, "Access not allowed ", "Zugriff verweigert "},
    {0x81F00009, "An open command was notsuccessful ", "Oeffnen war nicht erfolgreich "},
    {0x81F0000A, "Card not powered", "Token ohne Strom"},
    {0x81F0000B, "Unknown card type in reader", "Unbekannter Chipkartentyp im Lesegeraet"},
    {0x81F0000C, "No card inserted", "Es ist kein TOKEN im Lesegeraet eingesteckt"},
    {0x81F0000D, kUnknownEn, "Kein Serieller Device-Treiber installiert"},
    {0x81F0000E, "Security daemon is suspended, unlock VRL",
     "Der Security-Daemon ist suspendiert, VRL aufsperren"},
    {0x81F0000F, "End of file reached", "Dateiende erreicht"},
    {0x81F00010, "The ID is on a blacklist, the requested action is therfore not allowed.",
     kUnknownDe},
    {0x81F00011, "Some consistency check failed", "Eine Konsistenzpruefung schlug fehl"},
    {0x81F00012, "The identity does not match a defined cross-check identity",
     "Das Token passt nicht zur Maschine"},
    {0x81F00013,
     "Multiple errors haveocurred. Use this if there is only the possibility to return one "
     "error code, but there happened differnt errors before (e.g. each thread returned a "
     "different error and the controlling thread may only report one)",
     "Ein globaler Befehl lieferte verschiedene Fehler"},
    {0x81F00014, "Illegal driver", "Unbekannter Treiber"},
    {0x81F00015, "KELVANE firmware out of date", "KELVANE Firmware zu alt"},
    {0x81F00016, "No cardreader connected", "Es ist kein Lesegeraet angeschlossen"},
    {0x81F00017, "Communication error to security daemon",
     "Kommunikationsfehler zum Security Daemon"},
    {0x81F00018, "Daemon busy, try again later", "Daemon beschaeftigt, spaeter nochmal versuchen"},
};

}  // namespace

const char* MessageText(uint32_t code, uint32_t language) {
  bool german = language == kLanguageGerman;
  if (code >= kParameterBase && code < kParameterBase + kParameterCount) {
    uint32_t index = code - kParameterBase;
    return german ? kParameterDe[index] : kParameterEn[index];
  }
  for (const Message& message : kMessages) {
    if (message.code == code) return german ? message.german : message.english;
  }
  return german ? kUnknownDe : kUnknownEn;
}

const char* MessageTextEn(uint32_t code) {
  return MessageText(code, 0);
}
