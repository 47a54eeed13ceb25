#pragma once

// The test process's operator new, replaced so that a test can make one allocation fail:
// after this call, the next allocation on the calling thread throws std::bad_alloc.
void failNextAllocationOnThisThread();
// Takes back a failure that was armed and did not happen.
void allowAllocationsOnThisThread();
