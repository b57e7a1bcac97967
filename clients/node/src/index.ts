export { REASONS, diagnose, type ReasonInfo, type RequestFacts } from './diagnosis.js';
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
