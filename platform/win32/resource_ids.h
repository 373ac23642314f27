/* Resource numbers of the program image; read by the resource compiler
   too, so only preprocessor lines here. */
#pragma once

#define KVX_ICON 1
#define KVX_BOARD_PICTURE 2
#define KVX_CLICK_SOUND 3
