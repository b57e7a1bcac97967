export { REASONS, REASON_CODES, diagnose, isReasonCode, type ReasonCode, type ReasonInfo, type RequestFacts, type Vocabulary } from './diagnosis.js';
export { ChromePrivateInputError, Refusal, ToolError, UsageError, type CheckMaps } from './errors.js';
export {
  ClipboardHold,
  Tool,
  stopRunningTools,
  type CapturedKey,
  type Delivery,
  type Secret,
  type SecretSource,
  type Target,
  type ToolOptions,
  type WindowCount,
  type WindowVisibility,
} from './tool.js';
export { graphemeCount, suggestOrigin } from './validation.js';
