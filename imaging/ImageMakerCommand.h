#pragma once
// The image maker's command line: the time stamp text, the exact text of the command, the same
// pieces as an argument list, and where the maker lives.
#include <QString>
#include <QStringList>
#include <optional>

namespace umbra {

struct ImageMakerParams {
  QString label;
  qint64 time = 0;  // seconds since 1970-01-01 00:00 UTC; negative = no valid time
  std::optional<QString> bootFile;
  QString sourceFolder;
  QString targetFile;
  QString workingFolder;  // the maker runs here, so relative paths resolve against it
  QStringList hiddenPaths;  // entries of the source folder to hide in the image ('/'-separated)
};

// "MM/DD/YYYY,HH:MM:SS" in local time; empty for a negative or unconvertible time.
QString imageMakerTimeStamp(qint64 time);

// The command as text: cdimage -l"label" -tstamp [-b"boot"] [--hide="path"]... -d -n -m "source" "target".
// For display only; the maker is started with imageMakerArguments.
QString imageMakerCommandLine(const ImageMakerParams& params);

// The same pieces as arguments, values glued to their option letters and unquoted, so any
// character of a label or path (a double quote, a trailing backslash) reaches the maker intact.
QStringList imageMakerArguments(const ImageMakerParams& params);

// The maker beside the running executable; empty when it is not there.
QString findImageMaker();

}  // namespace umbra
