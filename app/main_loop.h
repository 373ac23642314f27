// The program's only scheduler: one pass per window event (or per 500 ms).
#pragma once

// Entry steps, then passes until QUIT or a close request.
void RunMainLoop();
