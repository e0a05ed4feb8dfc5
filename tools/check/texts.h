// Every word the check program says, in one table per language: English
// (texts_en.cpp) and Japanese (texts_ja.cpp). Each text is UTF-8 and, where
// it takes arguments, a printf format whose arguments are named beside it; a
// translation keeps them in order. The plug-in's trace lines and the JSON
// document stay English.
#pragma once

#include "tools/check/status_texts.h"

struct Texts {
  // ---- the program --------------------------------------------------------
  const char* versionLine;  // major, minor, build, revision
  const char* usage;
  const char* badArgument;  // what is wrong, from the texts below
  const char* yesTwice;
  const char* keySeconds;       // the most, what was given
  const char* unknownArgument;  // what was given
  const char* oneMode;
  const char* yesWithKeyOnly;
  const char* jsonWithStatusOnly;
  const char* langValue;  // what was given
  const char* pressEnter;
  const char* setupAsking;
  const char* error;  // the code: a system error

  // ---- the box, as the plug-in's discovery saw it ---------------------------
  const char* traceHeading;
  const char* devicesHeading;
  const char* devicesNone;
  const char* deviceIdentifiers;  // vendor ID, product ID
  const char* deviceNotOpened;    // the error
  const char* deviceLine;         // number, what it is, path
  const char* devicePassedOver;
  const char* noMemory;
  const char* noBoxDetail;     // vendor ID, product ID
  const char* refusedHeading;  // why
  const char* acceptedHeading;
  const char* generationLine;     // generation, where it was read
  const char* generationDigits;   // tens, ones, their positions
  const char* generationMaker;    // the positions
  const char* generationNeither;  // the positions
  const char* productLine;        // the product string, quoted
  const char* manufacturerLine;   // the manufacturer string, quoted
  const char* identifiersLine;    // vendor ID, product ID
  const char* reportLengthLine;   // bytes
  const char* reportTooShort;     // bytes
  const char* devicePathLine;     // path, on a line of its own
  const char* otherProduct;       // its product ID, the box's
  const char* noIdentifiers;
  const char* notOpened;          // the error
  const char* generationRefused;  // generation
  const char* reportNoMemory;
  const char* verdictNoMemory;
  const char* verdictAccepted;
  const char* verdictRefused;  // why
  const char* verdictNoBox;

  // What to do after each verdict.
  const char* nextAccepted;
  const char* nextNoBox;
  const char* nextGeneration0;
  const char* nextGeneration99;
  const char* nextOtherProduct;
  const char* nextNotOpened;
  const char* nextNoMemory;

  // How the plug-in's request to keep the 1 ms timer of a minimised host
  // fares on this Windows: one of the three, the last with the error.
  const char* throttlingOn;
  const char* throttlingNotAvailable;
  const char* throttlingFailed;

  // ---- the settings ---------------------------------------------------------
  const char* settingsFrom;               // path
  const char* settingsFromProgramFolder;  // path of the one the current folder lacks
  const char* settingsNone;               // path
  const char* polarityLine;               // meaning, the key as the file has it
  const char* polarityReverse;
  const char* polarityNormal;
  const char* pinLine;  // meaning, the key as the file has it
  const char* pin3;
  const char* pin1;
  const char* keyNotSet;  // key name
  const char* willNotAsk;
  const char* willAsk;  // which of the three below
  const char* askBoth;
  const char* askPolarity;
  const char* askPin;
  // Lines of tarvokey.ini that are there but not taken, each as it is, then
  // why (by NotTakenNote, tools/check/settings_view.h).
  const char* notTakenHeading;
  const char* notTakenLine;    // line number, the line
  const char* notTakenReason;  // one of the notes below
  // Each takes the key's name, but FullWidth (the characters, listed),
  // FullWidthSpace (nothing) and Misspelt (as written, the key).
  const char* notTaken[13];
  const char* listSeparator;
  // A key given twice: the key, the line it was given on before, what it
  // keys now (a meaning above), the key as written back, what that keys
  // from the next open (a meaning above, or repeatedAsks).
  const char* repeated;
  const char* repeatedAsks;
  // The box FskBox chooses: one of the three.
  const char* boxChoiceLine;
  const char* boxFirstListed;
  const char* boxChosen;  // the key
  const char* boxMalformed;

  // ---- --key ------------------------------------------------------------------
  const char* nothingKeyed;  // after the verdict line
  const char* keyQuestion;   // seconds
  const char* keyingNow;     // seconds
  const char* notConfirmed;
  const char* keyedDone;     // seconds, characters
  const char* keyedStopped;  // how (one of stops), seconds
  const char* stops[5];      // by Stop; None is not shown
  const char* keyedLost;     // seconds, the write's error
  const char* released;
  const char* notReleased;
  const char* resultOnTime;
  const char* resultLate;
  const char* resultStoppedReleased;
  const char* resultStopped;
  const char* resultLost;
  const char* nextLate;
  const char* nextLost;

  // The timing of the elements, in the benchmark's figures.
  const char* noWholeCharacter;
  const char* timingNotMeasured;
  const char* timingHeading;
  const char* timingColumns;
  const char* timingRows[4];  // start bits, data bits, stop elements, all, in eight columns
  const char* noPeriod;
  const char* tooFewCharacters;
  const char* periodLine;  // mean ms, periods, nominal ms, error in %
  const char* baudLine;    // baud, nominal baud
  const char* targets[3];  // in the order of timeline::Targets
  const char* targetMet;
  const char* targetMissed;
  const char* timingWithin;
  const char* timingNotWithin;

  // ---- --watch and --status -----------------------------------------------------
  const char* watchHeading;
  const char* watchEnded;

  StatusTexts status;

  // ---- a box another program holds -------------------------------------------
  const char* inUseHeading;  // the holder (StatusTexts::holder*)
  const char* verdictInUse;  // the holder
  const char* nextInUse;
  const char* nextInUseChoose;  // with several boxes attached

  // ---- the box tarvokey.ini chooses (FskBox), --boxes and --choose ------------
  const char* chosenAbsentDetail;  // key
  const char* noChoiceDetail;
  const char* verdictChosenAbsent;  // key
  const char* verdictNoChoice;
  const char* nextChosenAbsent;
  const char* nextNoChoice;
  const char* chooseNumber;  // what was given
  const char* boxesHeading;
  const char* boxesNone;      // vendor ID, product ID
  const char* boxesEntry;     // number, key, one of the three below (or deviceNotOpened)
  const char* boxesAccepted;  // generation
  const char* boxesRefused;   // generation
  const char* boxesProduct;   // product string
  const char* boxesPlace;     // where, or boxesPlaceUnknown
  const char* boxesPlaceUnknown;
  const char* boxesKeyedBy;  // the program, or one of the two below
  const char* boxesPath;     // device path
  const char* boxesHeldUnnamed;
  const char* boxesFree;
  const char* boxesThisFolder;    // the file's path, one of the four below
  const char* boxesChooseOne;     // number, key
  const char* boxesChooseAbsent;  // key
  const char* boxesChooseFirst;
  const char* boxesChooseMalformed;
  const char* boxesNext;
  const char* chooseNoBox;       // number, boxes attached
  const char* chooseNotRead;     // path, why
  const char* chooseUtf16;       // path
  const char* chooseNotWritten;  // path, why
  const char* chooseWritten;     // the line, path, number
};

extern const Texts kTextsEnglish;
extern const Texts kTextsJapanese;
