// The test program's global allocation can be made to fail once, on the
// calling thread only, the way the driver's heap fails when memory runs out.
#pragma once

// The allocation after n successful ones throws std::bad_alloc; n < 0 disarms.
void FailNthAllocation(long n);
// True when the armed failure happened.
bool AllocationFailed();
