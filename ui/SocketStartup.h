// Starting the socket layer before the engine opens its socket.
#pragma once

// True when the layer is ready (always where there is nothing to start).
bool StartSocketLayer();
