#pragma once
// Doubles of Windows' recording service (IMAPI2) and image maker (IMAPI2FS) for tests under wine,
// which has neither. Each double answers IDispatch through the type library compiled from
// ImapiDoubles.idl (DispGetIDsOfNames / DispInvoke over its ITypeInfo), so our late-bound code meets
// the members, DISPIDs and property kinds the real services document. install() puts them behind
// com::DispatchObject::create for the services' ProgIDs.
#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace imapi_double {

struct Drive {
  std::wstring id;                  // the recorder's unique id
  std::vector<std::wstring> paths;  // "E:\\"
  std::wstring product;
  bool mediumSupported = true;
  bool blank = true;
  long freeSectors = 359847;
  long mediaType = 3;               // IMAPI_MEDIA_PHYSICAL_TYPE: CD-RW unless a test says otherwise
};

// What the doubles hold and what they saw; tests arrange the first part and read the second.
struct World {
  bool typeLibraryLoaded = false;
  std::vector<Drive> drives;
  HRESULT writeFailure = S_OK;     // Write ends with this after the first update, when set
  bool finishDespiteCancel = false;  // CancelWrite comes too late: Write still ends with S_OK
  long sectorsPerUpdate = 16;
  bool verificationFails = false;  // a write checked at any level but None ends with E_IMAPI_BURN_VERIFICATION_FAILED

  // IMAPI2, as the last data writer saw it
  std::wstring writtenBy;           // the recorder whose id the writer was given
  std::vector<uint8_t> written;
  bool forceMediaToBeClosed = false;
  std::wstring clientName;
  int updates = 0;                  // Update events fired
  int cancelCalls = 0;
  int cancelsFromHandler = 0;       // CancelWrite calls made while an Update was being handled
  HRESULT writeResult = S_OK;
  // IMAPI_BURN_VERIFICATION_LEVEL the writer held when Write began, -1 before any Write; every writer
  // starts at quick (Microsoft does not document the start), so a write that does not choose shows
  long verificationLevel = -1;
  int verifyingUpdates = 0;  // Update events of the check after the write

  // IMAPI2, the eraser: what it was told, one line per call in call order; EraseMedia fails with
  // eraseFailure when set
  HRESULT eraseFailure = S_OK;
  std::vector<std::string> eraseCalls;

  // IMAPI2FS, as the last image saw it: one line per fact, in call order
  std::vector<std::string> imageCalls;
};

World& world();
// Loads the type library (from this program's TYPELIB resource) and routes the services' ProgIDs
// to the doubles; false when the type library cannot be loaded.
bool install();
void uninstall();
// Clears the world between cases, keeping the type library.
void reset();

}  // namespace imapi_double
