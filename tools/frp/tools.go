// SPDX-License-Identifier: Apache-2.0
//go:build tools

package tools

import (
	_ "github.com/fatedier/frp/cmd/frpc"
	_ "github.com/fatedier/frp/cmd/frps"
)
