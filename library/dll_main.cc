// SPDX-License-Identifier: MIT
// What only tarvelin.dll has: the module's entry routine, and the entry that
// the export table names as MSVC's constructor of CTarvelin.
#include <windows.h>

#include <new>

#include "tarvelin/tarvelin.h"

// The library keeps no state of its own, so loading, unloading and thread
// notifications have nothing to set up or release; each is answered with
// success.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

// An MSVC constructor gives `this` back (in EAX, or RAX on x86-64), and code
// that MSVC compiles may take the object's address from there after the call
// (as it does for a new-expression). g++'s constructors return nothing, so
// exporting CTarvelin::CTarvelin() itself under MSVC's name would hand such a
// host whatever that register happened to hold. tarvelin.def exports this
// function under that name instead: it takes the object as the constructor
// does (__thiscall on i686: in ECX, nothing on the stack; the first argument
// on x86-64) and returns the object it constructed.
#if defined(__i386__)
#define TARVELIN_MEMBER_CALL __attribute__((thiscall))
#else
#define TARVELIN_MEMBER_CALL
#endif
extern "C" TARVELIN_MEMBER_CALL CTarvelin* TarvelinConstructForMsvc(CTarvelin* self) {
  return ::new (static_cast<void*>(self)) CTarvelin();
}
