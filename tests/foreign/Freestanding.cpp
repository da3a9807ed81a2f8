// The few runtime pieces a freestanding module for the platform ABI needs,
// since it links no C or C++ runtime: the compiler may emit calls to memcpy
// and memset for copies and clears, any use of floating point references
// _fltused, and a vtable of an abstract class names _purecall.
//
// Threads: the functions touch only their arguments.

using Size = decltype(sizeof(0));

extern "C" {

int _fltused = 0;

// Called only if a pure virtual operation is reached, which our code never
// does; there is nothing sensible to do but return.
int _purecall() { return 0; }

// Byte loops through volatile pointers, so that the compiler cannot turn
// them back into calls of themselves.
void* memset(void* target, int value, Size count) {
  volatile unsigned char* out = static_cast<unsigned char*>(target);
  for (Size i = 0; i < count; ++i) out[i] = static_cast<unsigned char>(value);
  return target;
}

void* memcpy(void* target, const void* source, Size count) {
  volatile unsigned char* out = static_cast<unsigned char*>(target);
  const unsigned char* in = static_cast<const unsigned char*>(source);
  for (Size i = 0; i < count; ++i) out[i] = in[i];
  return target;
}

void* memmove(void* target, const void* source, Size count) {
  volatile unsigned char* out = static_cast<unsigned char*>(target);
  const unsigned char* in = static_cast<const unsigned char*>(source);
  if (out < in) {
    for (Size i = 0; i < count; ++i) out[i] = in[i];
  } else {
    for (Size i = count; i > 0; --i) out[i - 1] = in[i - 1];
  }
  return target;
}

}  // extern "C"
