// SPDX-License-Identifier: BSD-3-Clause
// Message catalogue: every text of the table in both languages, the parameter-error range and
// its ends, codes with a text in one language only, the unknown-error fallback and the choice
// of language.
#include "config/messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct Expected {
  uint32_t code;
  const char* english;
  const char* german;
};

// The catalogue as it is documented, one row per code (German in code page 437).
constexpr Expected kTable[] = {
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
    {0x81F0000D, "Unknown error", "Kein Serieller Device-Treiber installiert"},
    {0x81F0000E, "Security daemon is suspended, unlock VRL",
     "Der Security-Daemon ist suspendiert, VRL aufsperren"},
    {0x81F0000F, "End of file reached", "Dateiende erreicht"},
    {0x81F00010, "The ID is on a blacklist, the requested action is therfore not allowed.",
     "Unbekannter Fehler"},
    {0x81F00011, "Some consistency check failed", "Eine Konsistenzpruefung schlug fehl"},
    {0x81F00012, "The identity does not match a defined cross-check identity",
     "Das Token passt nicht zur Maschine"},
    {0x81F00013,
     "Multiple errors haveocurred. Use this if there is only the possibility to return one error "
     "code, but there happened differnt errors before (e.g. each thread returned a different error "
     "and the controlling thread may only report one)",
     "Ein globaler Befehl lieferte verschiedene Fehler"},
    {0x81F00014, "Illegal driver", "Unbekannter Treiber"},
    {0x81F00015, "KELVANE firmware out of date", "KELVANE Firmware zu alt"},
    {0x81F00016, "No cardreader connected", "Es ist kein Lesegeraet angeschlossen"},
    {0x81F00017, "Communication error to security daemon",
     "Kommunikationsfehler zum Security Daemon"},
    {0x81F00018, "Daemon busy, try again later", "Daemon beschaeftigt, spaeter nochmal versuchen"},
};

TEST(MessageTextTest, EveryCodeOfTheTableGivesItsTextInBothLanguages) {
  for (const Expected& row : kTable) {
    EXPECT_STREQ(MessageText(row.code, 0), row.english) << std::hex << row.code;
    EXPECT_STREQ(MessageTextEn(row.code), row.english) << std::hex << row.code;
    EXPECT_STREQ(MessageText(row.code, kLanguageGerman), row.german) << std::hex << row.code;
  }
}

TEST(MessageTextTest, TrailingBlanksAndSpellingsAreKept) {
  EXPECT_STREQ(MessageTextEn(0x81300007), "File IO read error ");
  EXPECT_STREQ(MessageText(0x81300007, 1), "Fehler beim Lesen der Datei");
  EXPECT_STREQ(MessageText(0x81300008, 1), "Fehler beim Schreiben der Datei ");
  EXPECT_STREQ(MessageText(0x81200001, 1), "Es sind noch Elementeuebrig");
  EXPECT_NE(strstr(MessageTextEn(0x81F00009), "notsuccessful "), nullptr);
  EXPECT_NE(strstr(MessageTextEn(0x81F00013), "haveocurred."), nullptr);
  EXPECT_NE(strstr(MessageTextEn(0x81F00013), "differnt errors"), nullptr);
  EXPECT_NE(strstr(MessageTextEn(0x81F00010), "therfore"), nullptr);
}

TEST(MessageTextTest, GermanUmlautIsTheCodePage437Byte) {
  const char* text = MessageText(0x81200002, kLanguageGerman);
  ASSERT_EQ(strlen(text), 29u);
  EXPECT_EQ(static_cast<unsigned char>(text[3]), 0x81);
  EXPECT_EQ(std::string(text, 3), "Ung");
  EXPECT_STREQ(text + 4, "ltige Konfigurationsdatei");
  const char* handle = MessageText(0x81300009, kLanguageGerman);
  EXPECT_EQ(static_cast<unsigned char>(handle[3]), 0x81);
  EXPECT_STREQ(handle + 4, "ltiger Handle");
}

TEST(MessageTextTest, ParameterErrorsNameParametersOneToNineteen) {
  for (uint32_t n = 0; n < 19; ++n) {
    std::string english = "Error in parameter " + std::to_string(n + 1) + " ";
    std::string german = "Fehler bei Parameter " + std::to_string(n + 1) + " ";
    EXPECT_EQ(MessageText(0x81000000 + n, 0), english);
    EXPECT_EQ(MessageText(0x81000000 + n, kLanguageGerman), german);
  }
  EXPECT_STREQ(MessageTextEn(0x81000000), "Error in parameter 1 ");
  EXPECT_STREQ(MessageTextEn(0x81000012), "Error in parameter 19 ");
  EXPECT_STREQ(MessageText(0x81000012, 1), "Fehler bei Parameter 19 ");
  EXPECT_STREQ(MessageTextEn(0x81000013), "Unknown error");
  EXPECT_STREQ(MessageText(0x81000013, 1), "Unbekannter Fehler");
  EXPECT_STREQ(MessageTextEn(0x80FFFFFF), "Unknown error");
}

TEST(MessageTextTest, CodesWithATextInOneLanguageOnly) {
  EXPECT_STREQ(MessageTextEn(0x81F0000D), "Unknown error");
  EXPECT_STREQ(MessageText(0x81F0000D, 1), "Kein Serieller Device-Treiber installiert");
  EXPECT_STREQ(MessageTextEn(0x81F00010),
               "The ID is on a blacklist, the requested action is therfore not allowed.");
  EXPECT_STREQ(MessageText(0x81F00010, 1), "Unbekannter Fehler");
}

TEST(MessageTextTest, UnlistedCodesGiveTheUnknownErrorText) {
  const uint32_t unlisted[] = {0x8130000C, 0x00000001, 0x81100003, 0x81F00000,
                               0x81F00001, 0x81F00019, 0x82000001, 0xFFFFFFFF};
  for (uint32_t code : unlisted) {
    EXPECT_STREQ(MessageText(code, 0), "Unknown error") << std::hex << code;
    EXPECT_STREQ(MessageText(code, 1), "Unbekannter Fehler") << std::hex << code;
  }
}

TEST(MessageTextTest, AnyLanguageOtherThanOneGivesEnglish) {
  const uint32_t languages[] = {0, 2, 0xFFFFFFFF};
  for (uint32_t language : languages) {
    EXPECT_STREQ(MessageText(0x81300002, language), "Not enough memory") << language;
    EXPECT_STREQ(MessageText(0x81000004, language), "Error in parameter 5 ") << language;
    EXPECT_STREQ(MessageText(0x12345678, language), "Unknown error") << language;
  }
  EXPECT_STREQ(MessageText(0x81300002, 1), "Zu wenig Hauptspeicher");
}

}  // namespace
