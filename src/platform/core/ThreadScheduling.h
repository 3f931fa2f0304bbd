#pragma once
// Scheduling hints for the calling thread. Linux only; each is best effort:
// a system without the feature, or one that refuses it, leaves the thread as
// it was and the call says so.
// Thread-safety: affects the calling thread only.

namespace fw {

// Asks for short time slices: the thread then gets a core soon after it
// wakes even while every core is busy, with its share of the processor
// unchanged. For a thread that works in short bursts and must answer quickly
// (the main thread while a batch keeps every core busy). True when granted.
bool preferShortTimeSlicesForThisThread();

}  // namespace fw
