// Every text this program shows, as the EUC-KR bytes the operators' consoles
// expect. Nothing is converted to the terminal's locale: the bytes below are
// what reaches standard output.
#pragma once

#include <cstdint>
#include <string_view>

// 정산시간이 아닙니다.  (not settlement time: the idle screen, no line end)
inline constexpr std::string_view idleText =
    "\xC1\xA4\xBB\xEA\xBD\xC3\xB0\xA3\xC0\xCC \xBE\xC6\xB4\xD5\xB4\xCF\xB4\xD9.";

// 화일 열기 실패!  (file open failed); the reading sites add a digit.
inline constexpr std::string_view openFailed =
    "\xC8\xAD\xC0\xCF \xBF\xAD\xB1\xE2 \xBD\xC7\xC6\xD0!";
inline constexpr std::string_view openFailedRequest =
    "\xC8\xAD\xC0\xCF \xBF\xAD\xB1\xE2 \xBD\xC7\xC6\xD0!1";
inline constexpr std::string_view openFailedRecords =
    "\xC8\xAD\xC0\xCF \xBF\xAD\xB1\xE2 \xBD\xC7\xC6\xD0!2";
inline constexpr std::string_view openFailedCount =
    "\xC8\xAD\xC0\xCF \xBF\xAD\xB1\xE2 \xBD\xC7\xC6\xD0!3";

// 정산이 완료되었습니다.  (the settlement is complete)
inline constexpr std::string_view settledText =
    "\xC1\xA4\xBB\xEA\xC0\xCC \xBF\xCF\xB7\xE1\xB5\xC7\xBE\xFA\xBD\xC0\xB4\xCF"
    "\xB4\xD9.";

// 정산하지 않았습니다. 열 수 없는 파일:   (not settled; the file that cannot
// be opened:) shown instead of the report, under the failure line, with
// the file's name after it: a ledger, Accumulated.txt or the journal. The
// request is kept.
inline constexpr std::string_view unopenedFileLabel =
    "\xC1\xA4\xBB\xEA\xC7\xCF\xC1\xF6 \xBE\xCA\xBE\xD2\xBD\xC0\xB4\xCF\xB4\xD9. \xBF\xAD \xBC\xF6 \xBE\xF8\xB4\xC2 \xC6\xC4\xC0\xCF: ";

// Accumulated.txt가 바뀌어 정산한 기록을 지우지 않았습니다.
// (Accumulated.txt changed, so the settled records were not removed).
inline constexpr std::string_view settledChangedText =
    "Accumulated.txt\xB0\xA1 \xB9\xD9\xB2\xEE\xBE\xEE \xC1\xA4\xBB\xEA\xC7\xD1 \xB1\xE2\xB7\xCF\xC0\xBB \xC1\xF6\xBF\xEC\xC1\xF6 \xBE\xCA\xBE\xD2\xBD\xC0\xB4\xCF\xB4\xD9.";

// 정산 일지(fare-settle.journal)를 읽을 수 없거나 이 교환 폴더의 것이 아니어서
// 아무것도 건드리지 않았습니다. 확인하고 일지를 치울 때까지 정산하지 않습니다.
// (the settlement journal cannot be read or does not belong to this
// exchange folder, so nothing was touched; nothing is settled until it is
// checked and taken away).
inline constexpr std::string_view journalForeignText =
    "\xC1\xA4\xBB\xEA \xC0\xCF\xC1\xF6(fare-settle.journal)\xB8\xA6 \xC0\xD0\xC0\xBB \xBC\xF6 \xBE\xF8\xB0\xC5\xB3\xAA \xC0\xCC \xB1\xB3\xC8\xAF \xC6\xFA\xB4\xF5\xC0\xC7 \xB0\xCD\xC0\xCC \xBE\xC6\xB4\xCF\xBE\xEE\xBC\xAD \xBE\xC6\xB9\xAB\xB0\xCD\xB5\xB5 \xB0\xC7\xB5\xE5\xB8\xAE\xC1\xF6 \xBE\xCA\xBE\xD2\xBD\xC0\xB4\xCF\xB4\xD9. \xC8\xAE\xC0\xCE\xC7\xCF\xB0\xED \xC0\xCF\xC1\xF6\xB8\xA6 \xC4\xA1\xBF\xEF \xB6\xA7\xB1\xEE\xC1\xF6 \xC1\xA4\xBB\xEA\xC7\xCF\xC1\xF6 \xBE\xCA\xBD\xC0\xB4\xCF\xB4\xD9.";

// 장부가 정산 일지(fare-settle.journal)에 적힌 파일이 아니어서 아무것도
// 건드리지 않았습니다. 확인하고 일지를 치울 때까지 정산하지 않습니다.
// (the ledgers are not the files the journal names, so nothing was
// touched; nothing is settled until it is checked and taken away).
inline constexpr std::string_view journalLedgersText =
    "\xC0\xE5\xBA\xCE\xB0\xA1 \xC1\xA4\xBB\xEA \xC0\xCF\xC1\xF6(fare-settle.journal)\xBF\xA1 \xC0\xFB\xC8\xF9 \xC6\xC4\xC0\xCF\xC0\xCC \xBE\xC6\xB4\xCF\xBE\xEE\xBC\xAD \xBE\xC6\xB9\xAB\xB0\xCD\xB5\xB5 \xB0\xC7\xB5\xE5\xB8\xAE\xC1\xF6 \xBE\xCA\xBE\xD2\xBD\xC0\xB4\xCF\xB4\xD9. \xC8\xAE\xC0\xCE\xC7\xCF\xB0\xED \xC0\xCF\xC1\xF6\xB8\xA6 \xC4\xA1\xBF\xEF \xB6\xA7\xB1\xEE\xC1\xF6 \xC1\xA4\xBB\xEA\xC7\xCF\xC1\xF6 \xBE\xCA\xBD\xC0\xB4\xCF\xB4\xD9.";

// 다른 정산 프로그램이 이 교환 폴더를 맡고 있습니다. 그 프로그램이 끝나면
// 이어받습니다.  (another settlement program serves this exchange folder;
// this one takes over when it ends): the screen of a second settler, no
// line end, like the idle text.
inline constexpr std::string_view anotherSettlerText =
    "\xB4\xD9\xB8\xA5 \xC1\xA4\xBB\xEA \xC7\xC1\xB7\xCE\xB1\xD7\xB7\xA5\xC0\xCC \xC0\xCC \xB1\xB3\xC8\xAF \xC6\xFA\xB4\xF5\xB8\xA6 \xB8\xC3\xB0\xED \xC0\xD6\xBD\xC0\xB4\xCF\xB4\xD9. \xB1\xD7 \xC7\xC1\xB7\xCE\xB1\xD7\xB7\xA5\xC0\xCC \xB3\xA1\xB3\xAA\xB8\xE9 \xC0\xCC\xBE\xEE\xB9\xDE\xBD\xC0\xB4\xCF\xB4\xD9.";

// The three sum lines are "<label><number> \n"; the labels end in " : ".
// 전체정산 금액 :  (total settlement amount)
inline constexpr std::string_view totalLabel =
    "\xC0\xFC\xC3\xBC\xC1\xA4\xBB\xEA \xB1\xDD\xBE\xD7 : ";
// BUS정산 금액 :
inline constexpr std::string_view busLabel =
    "BUS\xC1\xA4\xBB\xEA \xB1\xDD\xBE\xD7 : ";
// METRO정산 금액 :
inline constexpr std::string_view metroLabel =
    "METRO\xC1\xA4\xBB\xEA \xB1\xDD\xBE\xD7 : ";

// Console output goes through these four, so that every byte the program
// prints comes from this file's texts and numbers.
void printText(std::string_view text);
void printLine(std::string_view text);
void printSum(std::string_view label, std::int64_t value);
void flushConsole();
