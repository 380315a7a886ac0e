// What the controller needs of the window and of the storage object: their plain fields.
// The window (TFormBase) and the command-line front end implement TBorder; TStorage implements
// TResultsStore. The controller copies values into and out of these fields directly.
#pragma once

#include <string>

#include "core/extended.h"

namespace pitch {

// The window's side: the coefficients as last parsed from the input boxes and the results
// file's path as last taken from the save dialog.
class TBorder {
 public:
  Real c1 = 0;
  Real c2 = 0;
  Real c3 = 0;
  Real c4 = 0;
  Real c5 = 0;
  std::string FileName;  // UTF-8

 protected:
  TBorder() = default;
  TBorder(const TBorder&) = default;
  TBorder& operator=(const TBorder&) = default;
  ~TBorder() = default;
};

// The storage object's side: the values to save and the operation that writes them.
class TResultsStore {
 public:
  Real c1 = 0;
  Real c2 = 0;
  Real c3 = 0;
  Real c4 = 0;
  Real c5 = 0;
  Real muv = 0;
  Real nuv = 0;
  Real iv = 0;
  Real Tnu = 0;
  std::string FileName;  // UTF-8

  // Writes the results file from the fields; raises EInOutError on failure.
  virtual void WriteResults() = 0;

 protected:
  TResultsStore() = default;
  TResultsStore(const TResultsStore&) = default;
  TResultsStore& operator=(const TResultsStore&) = default;
  ~TResultsStore() = default;
};

}  // namespace pitch
