"""A client for chrome-private-input: hands secrets to Chrome pages without reading them.

    from chrome_private_input import Tool, Refusal
    tool = Tool(["chrome-private-input"])
    tool.deliver("Work", ["https://accounts.example.com"], bytearray(b"secret"), window_number=4101)
"""

from .diagnosis import REASONS, ReasonCode, diagnose
from .errors import ChromePrivateInputError, Refusal, ToolError, UsageError
from .tool import CapturedKey, ClipboardHold, Delivery, Target, Tool, WindowCount, WindowVisibility
from .validation import grapheme_count, suggest_origin

__all__ = [
    "CapturedKey", "ChromePrivateInputError", "ClipboardHold", "Delivery", "REASONS", "ReasonCode", "Refusal",
    "Target", "Tool",
    "ToolError", "UsageError", "WindowCount", "WindowVisibility", "diagnose", "grapheme_count",
    "suggest_origin",
]
__version__ = "0.1.0"
