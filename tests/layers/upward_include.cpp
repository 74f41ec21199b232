// Compiled only by the test LayerRule.UpwardIncludeFailsTheBuild, in the
// layer of ports/, which may include base/ and ports/ alone: the build must
// refuse the protocol header.
#include "ports/Request.h"
#include "protocol/Frame.h"
