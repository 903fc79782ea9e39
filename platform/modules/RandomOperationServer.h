#pragma once

bool startRandomOperationServer();
