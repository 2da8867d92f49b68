// What only tarvelin.dll has: the module's entry routine, and the entry that
// the export table names as MSVC's constructor of CTarvelin.
#include <windows.h>

#include <new>

#include "tarvelin/tarvelin.h"

// The library keeps no state of its own, so loading, unloading and thread
// notifications have nothing to set up or release; each is answered with
// success.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

// An MSVC constructor gives `this` back in EAX, and code that MSVC compiles
// may take the object's address from there after the call (as it does for a
// new-expression). g++'s constructors return nothing, so exporting
// CTarvelin::CTarvelin() itself under MSVC's name would hand such a host
// whatever EAX happened to hold. tarvelin.def exports this function under that
// name instead: it is __thiscall like the constructor (object in ECX, nothing
// on the stack) and returns the object it constructed.
extern "C" __attribute__((thiscall)) CTarvelin* TarvelinConstructForMsvc(CTarvelin* self) {
  return ::new (static_cast<void*>(self)) CTarvelin();
}
