// The library's trace. The sink writes nothing unless a receiver is set;
// tests set one to read what the library traces.
#pragma once

#include <stddef.h>

namespace payterm {

using TraceReceiver = void (*)(const char* text, size_t n);
void set_trace_receiver(TraceReceiver r);
bool trace_on();

}  // namespace payterm
