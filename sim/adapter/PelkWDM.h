#pragma once
// The stand-in "PelkWDM.Dll" (and its native twin "PelkWDM.so"): the nine
// "Pmixer" exports of the adapter driver's mixer DLL, served by an emulated
// driver inside the library, plus a few exports of its own that tests and the
// simulation use to set up the cards and to reach their devices (a real
// driver's device is opened through the system; the stand-in's cannot be).
//
// Until the first PelkSimReset or PelkSimAddCard the library presents the
// default cards: an Orvex 16 on a Pelk Tarsel-X in PCI slot 3, an Orvex 8 on a Pelk
// Tarsel-XR at bus 2, device 0, and a Tavi on a Pelk Tarsel in slot 5.
// Its clock is the system's steady clock unless PelkSimSetClock names another.
#include <cstdint>

#include "sim/OrvexUnit.h"
#include "sim/adapter/AdapterCard.h"

extern "C" {
// Removes every card; with `defaults` non-zero puts the default cards back.
typedef void (*PelkSimResetFn)(int defaults);
// Adds a card cabled to a converter of this configuration (null: none);
// answers its mixer device number.
typedef int (*PelkSimAddCardFn)(const sim::AdapterCard::Config* card, const sim::OrvexUnit::Config* unit);
typedef void (*PelkSimSetClockFn)(uint64_t (*clock)());
// Switches the converter on a card off and on (it boots the bank marked complete).
typedef int (*PelkSimPowerCycleFn)(int device);
// The cards' devices: CreateFile of "\\.\C2Mixer%u" (-1 when it does not open),
// DeviceIoControl and CloseHandle; non-zero is success.
typedef intptr_t (*PelkSimCreateFileFn)(const char* path);
typedef int (*PelkSimDeviceIoControlFn)(intptr_t device, uint32_t code, const void* in, uint32_t inSize, void* out,
                                        uint32_t outSize, uint32_t* returned);
typedef int (*PelkSimCloseHandleFn)(intptr_t device);
}
